#!/usr/bin/env bash
# GO with no client registered: the not-found message, the dialog stays;
# once the client is registered, GO launches it and start-up goes on.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

tw_unregister_clients
tw_start_tidewatch tw
tw_fill_setup 10 5 kazaa
tw_press_go
text=$(tw_drive msgbox-text -t Error -T 20000) || tw_fail "no message after GO"
tw_assert_eq "That Fasttrak client was not found. Try again" "$text" "not-found message"
tw_drive msgbox-answer -t Error ok || tw_fail "cannot answer the message"
tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 2000 >/dev/null ||
  tw_fail "setup dialog closed after a failed GO"
# The typed values stay; nothing was launched.
tw_assert_eq 10 "$(tw_drive get-text -t "$TW_SETUP_TITLE" 1003)" "refresh field after the message"
[ ! -e "$TW_STANDIN_LOG" ] || tw_fail "a client was started although none was found"

# The Grokster row is not registered either.
tw_drive check -t "$TW_SETUP_TITLE" 1001 0
tw_press_go
text=$(tw_drive msgbox-text -t Error -T 20000) || tw_fail "no message after the second GO"
tw_assert_eq "That Fasttrak client was not found. Try again" "$text" "not-found message for Grokster"
tw_drive msgbox-answer -t Error ok

tw_register_client kazaa "$(tw_standin_winpath)"
tw_drive check -t "$TW_SETUP_TITLE" 1001 1
tw_press_go
tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "the client was not launched"
start=$(grep ' START ' "$TW_STANDIN_LOG")
[[ "$start" == *"exe=$(tw_standin_winpath)\Kazaa.exe" ]] ||
  tw_fail "launched something other than the KaZaA stand-in: $start"
tw_drive wait-gone -c '#32770' -t "$TW_SETUP_TITLE" -T 10000 || tw_fail "setup dialog still open"
tw_drive wait -c TW -T 30000 >/dev/null || tw_fail "no tray window after the client started"
tw_is_running "$tw" || tw_fail "tidewatch.exe ended after start-up"
tw_log "no client, then client ok"
