#!/usr/bin/env bash
# A blank refresh delay disables the refresher: nothing is walked and the
# program idles, yet its tray menu works and it still ends, with exit code 0,
# soon after the client's window has gone.
source "$TW_E2E_LIB"

# Blank refresh delay: the item delay is then ignored.
tw_start_tidewatch_with_client tw "" 5
results="$TW_BUILD_DIR/tests/e2e/refresh_blank_measures.txt"

permille=$(tw_cpu_permille "$tw" 8 "with the refresher disabled") || tw_fail "cannot read tidewatch.exe's CPU time"
echo "disabled_cpu_permille=$permille" >"$results"
[ "$permille" -lt 50 ] || tw_fail "tidewatch.exe used $(tw_permille_text "$permille") of a core with the refresher disabled"
[ "$(tw_count_log "$TW_STANDIN_LOG" ' (WM_COMMAND|SELECT) ')" = 0 ] || tw_fail "the client was walked although the refresher is disabled"

# The menu: dismissed changes nothing; "Exit Tidewatch" ends with 0.
tw_drive tray-menu dismiss >/dev/null || tw_fail "the tray menu could not be opened and dismissed"
tw_is_running "$tw" || tw_fail "tidewatch.exe ended after the menu was dismissed"
tw_drive tray-menu choose >/dev/null || tw_fail "the tray menu's entry could not be chosen"
tw_wait_exit "$tw" 20 || tw_fail "tidewatch.exe still running after Exit Tidewatch"
tw_assert_eq 0 "$TW_EXIT_CODE" "exit code after Exit Tidewatch"

# Again with the refresher disabled; this time the client goes away.
tw_drive close -c Kazaa || tw_fail "cannot close the first stand-in"
tw_drive wait-gone -c Kazaa -T 10000 || tw_fail "the first stand-in did not close"
tw_start_tidewatch_with_client tw "" ""
closed_ms=$(tw_now_ms)
tw_drive close -c Kazaa || tw_fail "cannot close the stand-in"
tw_wait_exit "$tw" 20 || tw_fail "tidewatch.exe still running 20 s after the client closed"
tw_assert_eq 0 "$TW_EXIT_CODE" "exit code after the client closed"
took=$(($(tw_now_ms) - closed_ms))
tw_log "ended $took ms after the client closed (client check every 5000 ms)"
echo "exit_after_client_closed_ms=$took" >>"$results"
[ "$(tw_count_log "$TW_STANDIN_LOG" ' (WM_COMMAND|SELECT) ')" = 0 ] || tw_fail "the client was walked"
tw_log "blank refresh ok"
