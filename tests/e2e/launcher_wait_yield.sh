#!/usr/bin/env bash
# While it waits for the client's window, tidewatch.exe leaves the processor
# alone; a client started by hand later lets start-up continue.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

# A KaZaA installation whose client starts but never opens its window.
tw_standin_config <<'CFG'
no-window
CFG
tw_start_tidewatch_waiting() {
  tw_register_client kazaa "$(tw_standin_winpath)"
  tw_start_tidewatch tw
  tw_fill_setup "" "" kazaa
  tw_press_go
  tw_wait_log "$TW_STANDIN_LOG" ' NO-WINDOW$' 60 || tw_fail "the client was not launched"
  tw_drive wait-gone -c '#32770' -t "$TW_SETUP_TITLE" -T 10000 || tw_fail "setup dialog still open"
}
tw_start_tidewatch_waiting

# The process is already waiting for the client's window.
permille=$(tw_cpu_permille "$tw" 10 "while waiting") || tw_fail "cannot read tidewatch.exe's CPU time"
echo "cpu_while_waiting_permille=$permille" >"$TW_BUILD_DIR/tests/e2e/wait_cpu.txt"
[ "$permille" -lt 50 ] || tw_fail "tidewatch.exe used $(tw_permille_text "$permille") of a core while waiting (limit 5%)"
tw_is_running "$tw" || tw_fail "tidewatch.exe ended while waiting"
if tw_drive wait -c TW -T 200 >/dev/null 2>&1; then
  tw_fail "tray window created although the client has no window"
fi

# The client shows up after all (started by hand): start-up continues.
unset TW_STANDIN_CONFIG
tw_start_standin late
tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "hand-started client not ready"
tw_drive wait -c TW -T 10000 >/dev/null || tw_fail "no tray window after the client's window appeared"
tw_is_running "$tw" || tw_fail "tidewatch.exe ended"
tw_log "wait yield ok"
