#!/bin/sh
# tidewatch-dat from the outside, natively or under Wine: what its entry
# wires up (line ends, terminals, standard error, files dropped onto it):
#   tool_cli.sh native|wine PROGRAM
set -u
mode=$1
exe=$2
eol='\n'
[ "$mode" = wine ] && eol='\r\n'
run() { if [ "$mode" = wine ]; then wine "$exe" "$@"; else "$exe" "$@"; fi; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/twdat-cli.XXXXXX")
trap 'chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
cd "$dir" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }
lines() { for l in "$@"; do printf "%s$eol" "$l"; done; }
verified() { lines "Verifying $1..." "Pointer: 27" "File Checksum: 80163648" "Calculated Checksum: $2"; }

# The intact file, and the same with 37 junk bytes in front of its text.
head64() { head -c 64 /dev/zero | tr '\0' '\220'; head -c 2500 /dev/zero; printf '\001\000\000\000'; }
text='Some Artist - Some Title.mp3@K1'
footer='KAZA\047\000\110\066\026\200'
{ head64; printf "%s$footer" "$text"; } > good.dat
{ head64; head -c 36 /dev/zero | tr '\0' '\240'; printf "\001%s$footer" "$text"; } > junk.dat
printf 'abcKAZB\003\000\075\276\333\312' > nomagic.dat
cp junk.dat original.dat
cp junk.dat ro.dat
chmod a-w ro.dat
junk=$(python3 -c 'import zlib; print("%x" % (~zlib.crc32(open("junk.dat", "rb").read()[-49:-10]) & 0xffffffff))')

run verify good.dat junk.dat nomagic.dat > out.txt; rc=$?
[ $rc = 1 ] || fail "verify of mixed files: exit $rc, expected 1"
{ verified good.dat 80163648; lines "File good.dat is ok, repair not needed"
  verified junk.dat "$junk"; lines "Verifying nomagic.dat..." \
    "ERROR: Footer of nomagic.dat is damaged. No chance of repair"; } > expected.txt
cmp -s out.txt expected.txt || { fail "verify output"; diff expected.txt out.txt | cat -A; }

run repair --yes junk.dat ro.dat > out.txt; rc=$?
[ $rc = 1 ] || fail "repair of a writable and a read-only file: exit $rc, expected 1"
{ verified junk.dat "$junk"; lines "New Pointer: 27" "New Checksum: 80163648"
  verified junk.dat 80163648; lines "File junk.dat repaired successfully!"
  verified ro.dat "$junk"; lines "New Pointer: 27" "New Checksum: 80163648"
  verified ro.dat "$junk"; lines "ERROR: File ro.dat failed repair"; } > expected.txt
cmp -s out.txt expected.txt || { fail "repair output"; diff expected.txt out.txt | cat -A; }
cmp -s junk.dat good.dat || fail "the repaired file is not the intact one"
cmp -s ro.dat original.dat || fail "the read-only file changed"
[ "$(ls | wc -l)" = 7 ] || fail "files left beside: $(ls)"

run verify missing.dat /dev/null > out.txt 2> err.txt; rc=$?
[ $rc = 1 ] || fail "verify of a missing file and a device: exit $rc, expected 1"
grep -q '^tidewatch-dat: missing.dat: .' err.txt || fail "no reason for a missing file: $(cat err.txt)"
grep -q '^tidewatch-dat: /dev/null: Not a regular file' err.txt || fail "no reason for a device"

if [ "$mode" = wine ]; then
  # Files and a folder dropped onto the program: repaired, answers from standard input.
  mkdir dropped
  cp original.dat dropped/one.dat
  cp original.dat two.dat
  printf 'y\ny\n' | run two.dat dropped > out.txt 2> err.txt; rc=$?
  [ $rc = 0 ] || fail "files dropped onto the program: exit $rc; $(cat err.txt)"
  cmp -s two.dat good.dat && cmp -s dropped/one.dat good.dat || fail "dropped files not repaired"
fi
[ $status = 0 ] && echo "tidewatch-dat ($mode): all checks passed"
exit $status
