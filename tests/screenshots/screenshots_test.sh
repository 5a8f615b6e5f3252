#!/usr/bin/env bash
# make screenshots end to end, into a scratch folder: the script succeeds
# and leaves three real pictures: PNG files of the size of what they show
# (a dialog is larger than its smallest controls, the tray corner holds a
# menu), none of them a flat area.
# shellcheck source=tests/e2e/lib.sh
source "$TW_E2E_LIB"

out="$TW_TMP/docs"
BUILD=$(dirname "$TW_BUILD_DIR") SCREENSHOTS_DIR="$out" \
  "$TW_SOURCE_DIR/scripts/screenshots" >"$TW_TMP/screenshots.log" 2>&1 ||
  { cat "$TW_TMP/screenshots.log" >&2; tw_fail "scripts/screenshots failed"; }
cat "$TW_TMP/screenshots.log" >&2

for name in setup-dialog repair-report tray-menu; do
  file="$out/$name.png"
  [ -s "$file" ] || tw_fail "$name.png was not written"
  read -r w h colours <<<"$(identify -format '%w %h %k' "$file")"
  tw_log "$name.png: ${w}x$h, $colours colours"
  ((w >= 100 && h >= 40)) || tw_fail "$name.png is only ${w}x$h"
  ((colours > 4)) || tw_fail "$name.png has $colours colours"
done
# Each picture has the size of the window (or corner) the script cropped
# to: a crop running past the desktop's edge would come out smaller.
for name in setup-dialog repair-report tray-menu; do
  size=$(sed -n "s/.*captured $name.png (\([0-9]*x[0-9]*\),.*/\1/p" "$TW_TMP/screenshots.log")
  [ -n "$size" ] || tw_fail "the script did not report capturing $name.png"
  tw_assert_eq "$size" "$(identify -format '%wx%h' "$out/$name.png")" "size of $name.png"
done
grep -q 'ended with exit code 0' "$TW_TMP/screenshots.log" || tw_fail "tidewatch.exe did not leave through its menu"
