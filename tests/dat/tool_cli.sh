#!/bin/sh
# tidewatch-dat from the outside, natively or under Wine: what its entry
# wires up (line ends, exit status, terminals, standard error, files dropped
# onto it, names in any script, a console window):
#   tool_cli.sh native|wine PROGRAM
set -u
mode=$1
exe=$2
run() { if [ "$mode" = wine ]; then wine "$exe" "$@"; else "$exe" "$@"; fi; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/twdat-cli.XXXXXX")
trap 'chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
cd "$dir" || exit 1
status=0
fail() { echo "FAIL: $*"; status=1; }
eol='\n'
missing='No such file or directory'
denied='Permission denied'
if [ "$mode" = wine ]; then eol='\r\n' missing='File not found.' denied='Access denied.'; fi
said() { tr -d '\r' < err.txt | grep -qx "$1"; }

# The intact file, and the same with 37 junk bytes in front of its text
# under a name in Japanese and Cyrillic.
head64() { head -c 64 /dev/zero | tr '\0' '\220'; head -c 2500 /dev/zero; printf '\001\000\000\000'; }
text='Some Artist - Some Title.mp3@K1'
footer='KAZA\047\000\110\066\026\200'
{ head64; printf "%s$footer" "$text"; } > good.dat
junk='日本-файл.dat'
{ head64; head -c 36 /dev/zero | tr '\0' '\240'; printf "\001%s$footer" "$text"; } > $junk
cp $junk ro.dat
chmod a-w ro.dat

run verify good.dat $junk > out.txt 2> /dev/null; rc=$?
[ $rc = 1 ] || fail "verify of an intact and a damaged file: exit $rc, expected 1"
printf "File good.dat is ok, repair not needed${eol}Verifying $junk...$eol" > expected.txt
sed -n 5,6p out.txt | cmp -s - expected.txt || { fail "verify output"; cat -A out.txt; }

echo y | run repair --json ro.dat $junk missing-файл.dat /dev/null > out.txt 2> err.txt; rc=$?
[ $rc = 1 ] || fail "repair without a terminal: exit $rc, expected 1"
cmp -s $junk ro.dat || fail "a repair without a terminal was made"
grep -q "^{\"path\":\"$junk\",\"status\":\"damaged\"" out.txt || fail "JSON: $(cat out.txt)"
grep -q "no terminal to ask whether to repair ro.dat" err.txt || fail "no word of the answer No"
said "tidewatch-dat: missing-файл.dat: $missing" || fail "reason for a missing file"
said 'tidewatch-dat: /dev/null: Not a regular file' || fail "reason for a device"
run repair --yes ro.dat $junk > out.txt 2> err.txt; rc=$?
[ $rc = 1 ] || fail "repair of a read-only and a writable file: exit $rc, expected 1"
said "tidewatch-dat: ro.dat: $denied" || fail "reason for a read-only file: $(cat err.txt)"
cmp -s $junk good.dat || fail "the writable file was not repaired"

# Lost output is no success; a closed standard output or error takes no
# file's place.
run verify --json good.dat > /dev/full 2> err.txt; rc=$?
[ $rc = 1 ] && grep -q 'write error on standard output' err.txt || fail "output to a full disk: exit $rc"
cp ro.dat c1.dat && cp ro.dat c2.dat && chmod u+w c1.dat c2.dat
run repair --yes c1.dat c2.dat > /dev/null 2>&-; rc=$?
[ $rc = 0 ] && cmp -s c1.dat good.dat && cmp -s c2.dat good.dat ||
  fail "repair with standard error closed: exit $rc"
if [ "$mode" = native ]; then
  cp ro.dat closed.dat && chmod u+w closed.dat
  run repair --yes --backup closed.dat >&- 2> err.txt; rc=$?
  [ $rc = 0 ] && cmp -s closed.dat good.dat && cmp -s closed.dat.bak ro.dat ||
    fail "repair with standard output closed: exit $rc; $(cat err.txt)"
  # Ctrl-C while a large file is copied: the copy is abandoned, the file
  # stays as it was and nothing is left beside it.
  { head -c 64M /dev/zero; cat ro.dat; } > big.dat && cp big.dat big.orig && chmod u+w big.dat
  "$exe" repair --yes big.dat > /dev/null 2> err.txt & pid=$!
  n=0; until ls -A | grep -q '^~' || [ $n = 5000 ]; do n=$((n+1)); done
  kill -INT $pid; wait $pid; rc=$?
  [ $rc = 130 ] && cmp -s big.dat big.orig && ! ls -A | grep -q '^~' ||
    fail "Ctrl-C during a copy: exit $rc; $(ls -A); $(cat err.txt)"
  rm -f big.dat big.orig
  # Folders the user may not read: named with the reason, not ok and counted.
  mkdir -p tree/locked && cp good.dat tree/ && chmod 755 . tree && chmod 700 tree/locked
  nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
  if nobody true 2>/dev/null; then
    nobody "$exe" verify tree tree/locked > out.txt 2> err.txt; rc=$?
    [ $rc = 1 ] && [ "$(grep -cx "tidewatch-dat: tree/locked: $denied" err.txt)" = 2 ] &&
      said '1 file: 1 ok, 2 unreadable folders' || fail "unreadable folders: exit $rc; $(cat err.txt)"
  else
    echo "SKIP: cannot run as another user, so unreadable folders are not tested"
  fi
fi
if [ "$mode" = wine ]; then
  # Files and a folder dropped onto the program: repaired, the answers to its
  # questions read from standard input.
  mkdir dropped
  cat ro.dat > "dropped/файл-日本.dat"
  cat ro.dat > two.dat
  printf ' Y\nyes\n' | run two.dat dropped > out.txt 2> err.txt; rc=$?
  [ $rc = 0 ] || fail "files dropped onto the program: exit $rc; $(cat err.txt)"
  cmp -s two.dat good.dat && cmp -s "dropped/файл-日本.dat" good.dat || fail "dropped files not repaired"
  grep -q 'File dropped\\файл-日本.dat repaired successfully!' out.txt || fail "report: $(cat out.txt)"
  # In a console window (Wine's, on a terminal) the text reads right; what
  # goes to a file stays the bytes it was.
  LANG=C.UTF-8 script -qec "wine '$exe' verify $junk missing-файл.dat 2> err.txt" /dev/null > out.txt
  grep -q "Verifying $junk\.\.\." out.txt || fail "a name in a console window: $(cat -v out.txt)"
  said "tidewatch-dat: missing-файл.dat: $missing" || fail "a reason in a file: $(cat -v err.txt)"
fi
[ $status = 0 ] && echo "tidewatch-dat ($mode): all checks passed"
exit $status
