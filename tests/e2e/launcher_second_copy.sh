#!/usr/bin/env bash
# A second copy says "Tidewatch is already running" and exits with 0; the
# first copy carries on.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

tw_start_tidewatch first
first_dialog=$(tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 60000) ||
  tw_fail "first copy shows no setup dialog"

tw_start_tidewatch second
text=$(tw_drive msgbox-text -t Error -T 30000) || tw_fail "second copy shows no message"
tw_assert_eq "Tidewatch is already running" "$text" "second copy's message"
tw_is_running "$second" || tw_fail "second copy ended before its message was answered"
tw_drive msgbox-answer -t Error ok || tw_fail "cannot answer the message"
tw_wait_exit "$second" 20 || tw_fail "second copy did not exit"
tw_assert_eq 0 "$TW_EXIT_CODE" "second copy's exit code"

# Exactly one setup dialog, the first copy's, still there.
dialogs=$(tw_drive list -c '#32770' -t "$TW_SETUP_TITLE" | wc -l)
tw_assert_eq 1 "$dialogs" "setup dialogs on screen"
still=$(tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v)
tw_assert_eq "$first_dialog" "$still" "the first copy's dialog"
tw_is_running "$first" || tw_fail "first copy ended"
tw_log "second copy ok"
