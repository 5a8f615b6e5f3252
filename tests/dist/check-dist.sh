#!/usr/bin/env bash
# The release archive holds exactly the two programs, the README and the
# licence. It is checked on every machine, also where no 32-bit program can
# run: nothing here runs the programs. Both programs are 32-bit, each with a
# manifest for the 32-bit processor (Windows ignores one that names another)
# that names the same supported systems, import nothing but Windows' own DLLs and
# start on Windows XP SP3: subsystem version 5.01, and no imported function
# that XP lacks. Those newer toolchains are known to pull in are named here;
# every other one must be declared by MinGW-w64's headers for _WIN32_WINNT
# 0x0501 (the C runtime's start-up internals and its _iob aside).
set -euo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "$*"; exit 1; }

zip=$("$src/scripts/make-dist" "$tmp/out" "$build")
version=$(sed -n 's/^#define TW_VERSION_STRING "\(.*\)"/\1/p' "$build/res/version.h")
name="tidewatch-$version-win32"
expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/tidewatch-dat.exe" "$name/tidewatch.exe")
got=$(unzip -Z1 "$zip" | grep -v '/$' | sort)
[ "$got" = "$expected" ] || fail "archive contents: expected $expected, got $got"
unzip -q "$zip" -d "$tmp/x"
grep -q $'\r$' "$tmp/x/$name/README.txt" || fail "README.txt lacks CR LF line ends"

# Explorer shows the first icon group: the program's own, in every size it asks for.
exe=$tmp/x/$name/tidewatch.exe
first=$(wrestool -l --type=14 "$exe" | sed -n '1s/.*--name=\([^ ]*\) .*/\1/p')
wrestool -x --type=14 --name="$first" -o "$tmp/first.ico" "$exe"
sizes=$(icotool -l "$tmp/first.ico" | sed -n 's/.*--width=\([0-9]*\) .*/\1/p' | tr '\n' ' ')
[ "$sizes" = "16 24 32 48 256 " ] || fail "first icon group: expected sizes 16 24 32 48 256, got $sizes"

# The version users see in the program's properties is the archive's.
strings=$(wrestool --raw -x --type=16 "$exe" | tr -d '\0')
grep -qa "FileVersion$version" <<<"$strings" && grep -qa "ProductVersion$version" <<<"$strings" ||
  fail "tidewatch.exe: no version resource naming $version"

allowed='^(KERNEL32|USER32|GDI32|SHELL32|COMDLG32|COMCTL32|ADVAPI32|MSVCRT)\.DLL$'
newer='^(GetTickCount64|\w*SRWLock\w*|\w*ConditionVariable\w*|InitOnce\w*|Fls\w+|GetFileInformationByHandleEx|SetFileInformationByHandle|GetFinalPathNameByHandle\w*|CreateSymbolicLink\w*|CancelIoEx)$'
for exe in tidewatch.exe tidewatch-dat.exe; do
  file=$tmp/x/$name/$exe
  header=$(i686-w64-mingw32-objdump -p "$file")
  imports=$(awk '/DLL Name:/ { dll = toupper($3) } dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }' <<<"$header")
  [ -n "$imports" ] || fail "$exe: no imports found"
  bad=$(cut -d' ' -f1 <<<"$imports" | sort -u | grep -vE "$allowed" || true)
  [ -z "$bad" ] || fail "$exe imports DLLs that Windows does not ship: $bad"
  grep -q 'file format pei-i386' <<<"$header" || fail "$exe is not a 32-bit program"
  archs=$(wrestool --raw -x --type=24 "$file" | grep -ao 'processorArchitecture="[^"]*"' | sort -u)
  [ "$archs" = 'processorArchitecture="x86"' ] || fail "$exe: manifest for ${archs:-no processor}, not x86"
  # Windows 10 and 11 run a program that does not name them as a Vista-era one.
  oses=$(wrestool --raw -x --type=24 "$file" | grep -ao 'supportedOS Id="[^"]*"' | sort | tr '\n' ' ' || true)
  grep -q 8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a <<<"$oses" && [ "$oses" = "${known:=$oses}" ] ||
    fail "$exe: supported systems ${oses:-none}, not those of tidewatch.exe, Windows 10 among them"
  grep -qE 'MajorSubsystemVersion\s+5$' <<<"$header" && grep -qE 'MinorSubsystemVersion\s+1$' <<<"$header" ||
    fail "$exe does not claim subsystem 5.01"
  bad=$(cut -d' ' -f2 <<<"$imports" | grep -E "$newer" || true)
  [ -z "$bad" ] || fail "$exe imports what Windows XP lacks: $bad"
  cut -d' ' -f2 <<<"$imports" >>"$tmp/functions"
  echo "$exe: $(wc -l <<<"$imports") functions from $(cut -d' ' -f1 <<<"$imports" | sort -u | tr '\n' ' ')"
done
{
  printf '#include <%s.h>\n' windows shellapi commdlg commctrl stdio stdlib string wchar wctype \
    locale signal setjmp io fcntl process time sys/stat
  echo 'void* f[] = {'
  sort -u "$tmp/functions" | grep -vE '^(__|_amsg_exit$|_initterm$|_iob$)' | sed 's/.*/(void*)\&&,/'
  echo '};'
} >"$tmp/imports.c"
i686-w64-mingw32-gcc -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -c "$tmp/imports.c" -o "$tmp/imports.o" 2>"$tmp/cc" ||
  { cat "$tmp/cc"; fail "imports not declared for Windows XP"; }
echo "archive ok: $zip"
