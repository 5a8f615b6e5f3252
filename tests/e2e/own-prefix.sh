#!/usr/bin/env bash
# Runs a command in a copy of the session's Wine prefix, with a wineserver of
# its own: its windows, mutexes and registry are apart from everybody else's.
set -euo pipefail
copy=$(mktemp -d "${TMPDIR:-/tmp}/tw-prefix.XXXXXX")
trap 'WINEPREFIX=$copy wineserver -k 2>/dev/null || true; rm -rf "$copy"' EXIT
# Linked, not copied (Wine only reads them), but for the registry, which it rewrites.
cp -al "$WINEPREFIX/." "$copy/"
for f in "$copy"/*.reg; do cp --remove-destination "$WINEPREFIX/${f##*/}" "$f"; done
WINEPREFIX=$copy "$@"
