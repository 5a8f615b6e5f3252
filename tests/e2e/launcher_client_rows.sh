#!/usr/bin/env bash
# The KaZaA box ticked launches the KaZaA client (ExeDir), unticked the
# Grokster client (DatabaseDir less "\db"); both are the stand-in.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

standin=$(tw_standin_winpath)
tw_register_client kazaa "$standin"
tw_register_client grokster "$standin"

run_row() { # kazaa|grokster EXPECTED_EXE
  rm -f "$TW_STANDIN_LOG"
  tw_start_tidewatch tw
  tw_fill_setup 1 "" "$1"
  tw_press_go
  tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "$1 row: no client launched"
  local start
  start=$(grep ' START ' "$TW_STANDIN_LOG")
  [[ "$start" == *"exe=$standin\\$2" ]] || tw_fail "$1 row: expected $standin\\$2, got: $start"
  tw_drive wait -c TW -T 30000 >/dev/null || tw_fail "$1 row: no tray window"
  tw_is_running "$tw" || tw_fail "$1 row: tidewatch.exe ended"

  # Reset for the next row: the client closes normally, tidewatch is ended.
  tw_drive close -c Kazaa || tw_fail "$1 row: cannot close the client"
  tw_wait_log "$TW_STANDIN_LOG" ' EXIT 0$' 20 || tw_fail "$1 row: client did not exit"
  kill -TERM "$tw"
  tw_wait_exit "$tw" 20 || tw_fail "$1 row: tidewatch.exe did not end"
}

run_row kazaa Kazaa.exe
run_row grokster Grokster.exe
tw_log "client rows ok"
