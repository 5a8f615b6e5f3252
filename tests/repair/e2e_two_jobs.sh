#!/usr/bin/env bash
# Two repair jobs at once in tidewatch.exe. The first waits on its repair
# question while the second runs to its end: each report holds exactly its own
# lines, the setup dialog keeps answering, and closing the second report
# leaves the first job and its question alone.
source "$TW_E2E_LIB"
source "$TW_SOURCE_DIR/tests/repair/repair_lib.sh"

dir="$TW_TMP/dat"
mkdir -p "$dir/first" "$dir/second"
win=$(tw_winpath "$dir")
make_damaged "$dir/first/bad.dat"
make_intact "$dir/first/good.dat"
make_intact "$dir/second/x.dat"
make_intact "$dir/second/y.dat"
make_intact "$TW_TMP/intact.ref"
damaged_sum=$(region_checksum "$dir/first/bad.dat")

start_tidewatch

tw_log "first job: stops at the question for bad.dat"
start_job
choose_files "$win\\first" bad.dat good.dat
text=$(tw_drive msgbox-text -t Error -T 20000) || tw_fail "no question from the first job"
tw_assert_eq "File $win\\first\\bad.dat is damaged. Do you wish to attempt repair?" \
  "${text%$'\r'}" "first job's question"

tw_log "second job runs to its end meanwhile"
start_job
choose_files "$win\\second" x.dat y.dat
wait_report second
{ exp_banner; exp_intact "$win\\second\\x.dat"; exp_intact "$win\\second\\y.dat"; } \
  >"$TW_TMP/expected.second"
check_report "$second" "$TW_TMP/expected.second" "the second job"
title=$(tw_drive get-text -w "$SETUP" -T 3000) || tw_fail "setup dialog does not answer"
tw_assert_eq "Tidewatch+" "${title%$'\r'}" "setup dialog title"

tw_log "closing the second report leaves the first job waiting"
close_report "$second"
tw_is_running "$TW_PID" || tw_fail "closing a report ended the program"
text=$(tw_drive msgbox-text -t Error -T 3000) || tw_fail "the first job's question has gone"
tw_assert_eq "File $win\\first\\bad.dat is damaged. Do you wish to attempt repair?" \
  "${text%$'\r'}" "first job's question after the close"

tw_drive msgbox-answer -t Error yes || tw_fail "cannot answer the first job's question"
wait_report first
{
  exp_banner
  exp_verify "$win\\first\\bad.dat" 27 80163648 "$damaged_sum"
  printf 'New Pointer: 27\r\nNew Checksum: 80163648\r\n'
  exp_verify "$win\\first\\bad.dat" 27 80163648 80163648
  printf 'File %s repaired successfully!\r\n' "$win\\first\\bad.dat"
  exp_intact "$win\\first\\good.dat"
} >"$TW_TMP/expected.first"
check_report "$first" "$TW_TMP/expected.first" "the first job"
cmp -s "$TW_TMP/intact.ref" "$dir/first/bad.dat" || tw_fail "bad.dat was not repaired"
close_report "$first"
tw_is_running "$TW_PID" || tw_fail "closing the last report ended the program"
tw_log "two jobs ok"
