#!/usr/bin/env bash
# The release archive holds exactly the two programs, the README and the
# licence, and both programs import nothing but Windows' own DLLs.
set -euo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

zip=$("$src/scripts/make-dist" "$tmp/out" "$build")
version=$(sed -n 's/^#define TW_VERSION_STRING "\(.*\)"/\1/p' "$build/res/version.h")
name="tidewatch-$version-win32"
[ "$(basename "$zip")" = "$name.zip" ] || { echo "expected $name.zip, got $zip"; exit 1; }

expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/tidewatch-dat.exe" "$name/tidewatch.exe")
got=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
if [ "$got" != "$expected" ]; then
  printf 'archive contents differ\nexpected:\n%s\ngot:\n%s\n' "$expected" "$got"
  exit 1
fi

unzip -q "$zip" -d "$tmp/x"
allowed='^(KERNEL32|USER32|GDI32|SHELL32|COMDLG32|COMCTL32|ADVAPI32|MSVCRT|SHLWAPI|OLE32)\.DLL$'
for exe in tidewatch.exe tidewatch-dat.exe; do
  dlls=$(i686-w64-mingw32-objdump -p "$tmp/x/$name/$exe" | sed -n 's/^\s*DLL Name: //p' | tr a-z A-Z)
  [ -n "$dlls" ] || { echo "$exe: no imports found"; exit 1; }
  bad=$(printf '%s\n' "$dlls" | grep -vE "$allowed" || true)
  if [ -n "$bad" ]; then
    echo "$exe imports DLLs that Windows does not ship: $bad"
    exit 1
  fi
  i686-w64-mingw32-objdump -f "$tmp/x/$name/$exe" | grep -q 'pei-i386' \
    || { echo "$exe is not a 32-bit program"; exit 1; }
  echo "$exe imports: $(echo $dlls)"
done
grep -q $'\r$' "$tmp/x/$name/README.txt" || { echo "README.txt lacks CR LF line ends"; exit 1; }
echo "archive ok: $zip"
