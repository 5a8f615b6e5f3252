#!/usr/bin/env bash
# The setup dialog's close box ends the program with exit code 0, also while
# a repair job started from the dialog's system menu is waiting for an answer.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

WM_SYSCOMMAND=0x0112
IDM_REPAIR_DAT=0x0100

# Plain close.
tw_start_tidewatch tw
tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 60000 >/dev/null || tw_fail "no setup dialog"
tw_drive close -t "$TW_SETUP_TITLE" || tw_fail "cannot close the dialog"
tw_wait_exit "$tw" 20 || tw_fail "tidewatch.exe kept running after the close box"
tw_assert_eq 0 "$TW_EXIT_CODE" "exit code after the close box"

# The system menu's "Repair DAT files..." starts a repair job (its warning
# appears); the close box still ends everything with 0.
tw_start_tidewatch tw
tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 60000 >/dev/null || tw_fail "no setup dialog"
tw_drive post -t "$TW_SETUP_TITLE" $WM_SYSCOMMAND $IDM_REPAIR_DAT 0
tw_drive wait -m -t Warning -v -T 20000 >/dev/null || tw_fail "the repair job's warning did not appear"
tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 1000 >/dev/null ||
  tw_fail "setup dialog gone after starting a repair job"
tw_drive close -t "$TW_SETUP_TITLE" || tw_fail "cannot close the dialog"
tw_wait_exit "$tw" 20 || tw_fail "tidewatch.exe kept running with a repair job open"
tw_assert_eq 0 "$TW_EXIT_CODE" "exit code after the close box with a job running"
tw_drive wait-gone -m -t Warning -T 10000 || tw_fail "the job's warning outlived the process"
tw_log "close box ok"
