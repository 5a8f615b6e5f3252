#!/bin/sh
# tidewatch-dat from the outside: verify and repair on a few real files,
# exit statuses, line ends, a read-only file, answers from a non-terminal.
# Under Wine this exercises the Win32 file layer for real (exclusive open,
# truncation, replacement by move).
#   tool_cli.sh native|wine PROGRAM
set -u
mode=$1
exe=$2
case $mode in
  wine) eol='\r\n' ;;
  *) eol='\n' ;;
esac
run() {
  if [ "$mode" = wine ]; then wine "$exe" "$@"; else "$exe" "$@"; fi
}

dir=$(mktemp -d "${TMPDIR:-/tmp}/twdat-cli.XXXXXX")
trap 'chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
cd "$dir" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }

# Expected report text from lines given as arguments, with the platform's ends.
lines() { for l in "$@"; do printf "%s$eol" "$l"; done; }
# The checksum of bytes [-10-len, -10) of a file, for the expected lines.
sum() {
  python3 -c 'import sys, zlib; d = open(sys.argv[1], "rb").read(); n = int(sys.argv[2]); print("%x" % (~zlib.crc32(d[-10 - n:-10]) & 0xffffffff))' "$1" "$2"
}

data64() { head -c 64 /dev/zero | tr '\0' '\200'; }
text='Some Artist - Some Title.mp3@K1'
# Laid out as a repair leaves it (the region's checksum is 80163648).
{ data64; head -c 2500 /dev/zero; printf '\001\000\000\000%s' "$text"
  printf 'KAZA\047\000\110\066\026\200'; } > good.dat
# The same with 37 junk bytes in front of the text.
{ data64; head -c 2500 /dev/zero; printf '\001\000\000\000'
  head -c 36 /dev/zero | tr '\0' '\240'; printf '\001%s' "$text"
  printf 'KAZA\047\000\110\066\026\200'; } > junk.dat
# Short, with a wrong checksum: the repair appends the trailer.
printf '\001Song.mp3@KKAZA\012\000\064\022\000\000' > short.dat
printf 'abcKAZB\003\000\075\276\333\312' > nomagic.dat
cp junk.dat junk-orig.dat

# verify: every file's lines in order; 1 because not all are ok.
run verify good.dat junk.dat nomagic.dat > out.txt 2> err.txt
rc=$?
[ $rc = 1 ] || fail "verify of mixed files: exit $rc, expected 1"
lines "Verifying good.dat..." "Pointer: 27" "File Checksum: 80163648" \
  "Calculated Checksum: 80163648" "File good.dat is ok, repair not needed" \
  "Verifying junk.dat..." "Pointer: 27" "File Checksum: 80163648" \
  "Calculated Checksum: $(sum junk.dat 39)" \
  "Verifying nomagic.dat..." "ERROR: Footer of nomagic.dat is damaged. No chance of repair" \
  > expected.txt
cmp -s out.txt expected.txt || { fail "verify output differs"; diff expected.txt out.txt | cat -A; }
cmp -s junk.dat junk-orig.dat || fail "verify changed junk.dat"
run verify good.dat > /dev/null; rc=$?
[ $rc = 0 ] || fail "verify of an intact file: exit $rc"

# An answer that does not come from a terminal is not taken: No.
echo y > answers.txt
run repair junk.dat < answers.txt > out.txt 2> err.txt; rc=$?
[ $rc = 1 ] || fail "repair without a terminal: exit $rc, expected 1"
grep 'junk.dat' err.txt | grep -q 'No' || fail "no word on standard error about the answer No"
cmp -s junk.dat junk-orig.dat || fail "repair without an answer changed junk.dat"

# repair --yes: the junk goes, the file shrinks by 37 bytes and equals good.dat.
run repair --yes junk.dat > out.txt 2> err.txt; rc=$?
[ $rc = 0 ] || fail "repair --yes: exit $rc"
lines "Verifying junk.dat..." "Pointer: 27" "File Checksum: 80163648" \
  "Calculated Checksum: $(sum junk-orig.dat 39)" "New Pointer: 27" "New Checksum: 80163648" \
  "Verifying junk.dat..." "Pointer: 27" "File Checksum: 80163648" \
  "Calculated Checksum: 80163648" "File junk.dat repaired successfully!" > expected.txt
cmp -s out.txt expected.txt || { fail "repair output differs"; diff expected.txt out.txt | cat -A; }
cmp -s junk.dat good.dat || fail "the repaired file is not the fixed-point file"
[ "$(wc -c < junk.dat)" -eq $(( $(wc -c < junk-orig.dat) - 37 )) ] || fail "not 37 bytes shorter"

# A short file grows by its trailer and then verifies.
run repair --yes short.dat > /dev/null; rc=$?
[ $rc = 0 ] || fail "repair of a short file: exit $rc"
[ "$(wc -c < short.dat)" -eq 41 ] || fail "short file: $(wc -c < short.dat) bytes, expected 41"
run verify short.dat > /dev/null || fail "the short file does not verify after its repair"

# A read-only file stays as it was; the report still shows the new values.
cp junk-orig.dat ro.dat
chmod a-w ro.dat
run repair --yes ro.dat > out.txt 2> err.txt; rc=$?
[ $rc = 1 ] || fail "repair of a read-only file: exit $rc, expected 1"
cmp -s ro.dat junk-orig.dat || fail "the read-only file was changed"
grep -q 'New Checksum: 80163648' out.txt || fail "no New Checksum line for the read-only file"
tail -n 1 out.txt | grep -q '^ERROR: File ro.dat failed repair' || fail "no failed-repair verdict"

# No temporary file is left anywhere.
leftover=$(ls -a | grep twtmp || true)
[ -z "$leftover" ] || fail "temporary files left: $leftover"

# Usage errors.
run repair > /dev/null 2>&1; rc=$?
[ $rc = 2 ] || fail "repair without files: exit $rc, expected 2"
run --version > out.txt; rc=$?
[ $rc = 0 ] && grep -q '^tidewatch-dat [0-9]' out.txt || fail "--version"

[ $status = 0 ] && echo "tidewatch-dat ($mode): all checks passed"
exit $status
