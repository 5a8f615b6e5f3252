#!/usr/bin/env bash
# The repair job in tidewatch.exe, one job after another: an intact file, three
# files in one folder, two files in a drive's root folder, a damaged file
# answered No and Yes, a file without the magic. Each report is read from control 1010 and compared exactly.
source "$TW_E2E_LIB"
source "$TW_SOURCE_DIR/tests/repair/repair_lib.sh"

dir="$TW_TMP/dat"
mkdir -p "$dir/three"
win=$(tw_winpath "$dir")
make_intact "$dir/one.dat"
for n in a b c; do make_intact "$dir/three/$n.dat"; done
make_damaged "$dir/refused.dat"
make_damaged "$dir/repaired.dat"
make_nomagic "$dir/nomagic.dat"
make_damaged "$TW_TMP/damaged.ref"
make_intact "$TW_TMP/intact.ref"
make_nomagic "$TW_TMP/nomagic.ref"
damaged_sum=$(region_checksum "$TW_TMP/damaged.ref")

start_tidewatch

tw_log "one intact file"
start_job
choose_files "$win" one.dat
wait_report report
{ exp_banner; exp_intact "$win\\one.dat"; } >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "one intact file"
close_report "$report"

tw_log "three files in one folder, joined as folder, backslash, name"
start_job
choose_files "$win\\three" b.dat a.dat c.dat
wait_report report
{
  exp_banner
  for n in b a c; do exp_intact "$win\\three\\$n.dat"; done
} >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "three files"
close_report "$report"

tw_log "two files in a drive's root folder: its backslash kept, so two in a row"
mkdir -p "$TW_TMP/root"
make_intact "$TW_TMP/root/r1.dat"
make_intact "$TW_TMP/root/r2.dat"
drive=""
for letter in r s t u v w x y; do
  [ -e "$WINEPREFIX/dosdevices/$letter:" ] || { drive=$letter; break; }
done
[ -n "$drive" ] || tw_fail "no free drive letter in the prefix"
link="$WINEPREFIX/dosdevices/$drive:"
ln -s "$TW_TMP/root" "$link"
trap 'status=$?; rm -f "$link"; (exit $status); tw_cleanup' EXIT
root="${drive^^}:\\"
start_job
choose_files "$root" r1.dat r2.dat
wait_report report
{ exp_banner; exp_intact "${root}\\r1.dat"; exp_intact "${root}\\r2.dat"; } >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "the root folder"
close_report "$report"
rm -f "$link"

tw_log "damaged file, repair refused"
start_job
choose_files "$win" refused.dat
answer_question "$win\\refused.dat" no
wait_report report
{ exp_banner; exp_verify "$win\\refused.dat" 27 80163648 "$damaged_sum"; } >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "refused repair"
cmp -s "$TW_TMP/damaged.ref" "$dir/refused.dat" || tw_fail "a refused repair changed the file"
close_report "$report"

tw_log "damaged file, repaired"
start_job
choose_files "$win" repaired.dat
answer_question "$win\\repaired.dat" yes
wait_report report
{
  exp_banner
  exp_verify "$win\\repaired.dat" 27 80163648 "$damaged_sum"
  printf 'New Pointer: 27\r\nNew Checksum: 80163648\r\n'
  exp_verify "$win\\repaired.dat" 27 80163648 80163648
  printf 'File %s repaired successfully!\r\n' "$win\\repaired.dat"
} >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "repair"
cmp -s "$TW_TMP/intact.ref" "$dir/repaired.dat" || tw_fail "the repaired file is not the intact file"
close_report "$report"

tw_log "file without the magic: no question"
start_job
choose_files "$win" nomagic.dat
wait_report report
{
  exp_banner
  printf 'Verifying %s...\r\nERROR: Footer of %s is damaged. No chance of repair\r\n' \
    "$win\\nomagic.dat" "$win\\nomagic.dat"
} >"$TW_TMP/expected"
check_report "$report" "$TW_TMP/expected" "file without magic"
if tw_drive list -m -t Error >/dev/null 2>&1; then tw_fail "a question was asked"; fi
cmp -s "$TW_TMP/nomagic.ref" "$dir/nomagic.dat" || tw_fail "the file without magic changed"
close_report "$report"

tw_is_running "$TW_PID" || tw_fail "tidewatch.exe ended with its reports"
tw_drive get-text -w "$SETUP" >/dev/null || tw_fail "setup dialog gone"
tw_log "repair reports ok"
