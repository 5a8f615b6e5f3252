# shellcheck shell=bash
# Helpers for end-to-end tests under Wine. Source this first in a test script:
#
#   source "$TW_E2E_LIB"
#
# It expects the environment set by tw_add_e2e_test (cmake/TwE2E.cmake) and
# a Wine session (WINEPREFIX, DISPLAY). It creates a scratch folder $TW_TMP,
# tags every process the test starts (TW_TEST_TAG, inherited by programs
# that those start in turn), and on exit ends the tagged processes, deletes
# the registry keys the test wrote and removes $TW_TMP. The shared
# wineserver and Wine's own services are left alone.
#
# Polling helpers take a time-out in seconds and return 1 on time-out.

set -euo pipefail

: "${TW_TIDEWATCH_EXE:?run through ctest (tw_add_e2e_test) or set TW_TIDEWATCH_EXE}"
: "${TW_STANDIN_DIR:?}"
: "${TW_DRIVER_EXE:?}"
: "${WINEPREFIX:?run inside scripts/wine-session}"
: "${DISPLAY:?run inside scripts/wine-session}"

TW_TMP=$(mktemp -d "${TMPDIR:-/tmp}/tw-e2e.XXXXXX")
export TW_TEST_TAG="tw-e2e-$$-$RANDOM"
# The stand-in's log; tests read it with tw_wait_log.
export TW_STANDIN_LOG="$TW_TMP/standin.log"
unset TW_STANDIN_CONFIG
TW_PIDS=()
TW_REG_KEYS=()
TW_EXIT_CODE=""
TW_POLL_INTERVAL=0.1

tw_log() { printf '[%s] %s\n' "$(date +%H:%M:%S.%3N)" "$*" >&2; }
tw_fail() {
  tw_log "FAIL: $*"
  exit 1
}

# Milliseconds since the epoch (for deadlines).
tw_now_ms() { date +%s%3N; }

# tw_poll TIMEOUT_S COMMAND...: runs COMMAND every 100 ms until it succeeds.
tw_poll() {
  local timeout=$1
  shift
  local deadline=$(($(tw_now_ms) + timeout * 1000))
  while :; do
    if "$@"; then return 0; fi
    [ "$(tw_now_ms)" -lt "$deadline" ] || return 1
    sleep "$TW_POLL_INTERVAL"
  done
}

# A Unix path in the form Windows programs under Wine understand (drive Z:).
tw_winpath() {
  local p
  p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${p//\//\\}"
}

# ---- processes --------------------------------------------------------------

# tw_start VAR EXE [ARGS...]: starts EXE under Wine in the background; VAR
# receives the Unix pid, which is the Windows process itself.
tw_start() {
  local var=$1
  shift
  wine "$@" >>"$TW_TMP/wine.out" 2>&1 &
  local pid=$!
  TW_PIDS+=("$pid")
  printf -v "$var" '%s' "$pid"
  tw_log "started $(basename "$1") as pid $pid"
}

tw_start_tidewatch() { tw_start "$1" "$TW_TIDEWATCH_EXE"; }

# tw_start_standin VAR [Kazaa|Grokster|Morpheus]: the stand-in client with
# the current TW_STANDIN_CONFIG and TW_STANDIN_LOG.
tw_start_standin() { tw_start "$1" "$TW_STANDIN_DIR/${2:-Kazaa}.exe"; }

# tw_standin_config < TEXT: writes the stand-in's configuration and exports
# TW_STANDIN_CONFIG so the stand-in started next (also by tidewatch.exe) reads it.
tw_standin_config() {
  cat >"$TW_TMP/standin.cfg"
  export TW_STANDIN_CONFIG="$TW_TMP/standin.cfg"
}

# State letter of a process (R, S, Z, ...), empty when it is gone.
tw_proc_state() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  stat=${stat##*) }
  printf '%s' "${stat%% *}"
}

# True while the process runs (a finished but unreaped process is not running).
tw_is_running() {
  local s
  s=$(tw_proc_state "$1")
  [ -n "$s" ] && [ "$s" != Z ] && [ "$s" != X ]
}

tw_is_gone() { ! tw_is_running "$1"; }

# tw_wait_exit PID [TIMEOUT_S=20]: waits for a process this shell started to
# end and sets TW_EXIT_CODE to its (Windows) exit code.
tw_wait_exit() {
  local pid=$1 timeout=${2:-20}
  tw_poll "$timeout" tw_is_gone "$pid" || return 1
  local status=0
  wait "$pid" || status=$?
  TW_EXIT_CODE=$status
  return 0
}

# User plus system CPU time of a process, in clock ticks (getconf CLK_TCK per second).
tw_cpu_ticks() {
  local stat
  stat=$(cat "/proc/$1/stat") || return 1
  stat=${stat##*) }
  local fields
  read -r -a fields <<<"$stat"
  # fields[0] is field 3 (state); utime and stime are fields 14 and 15.
  printf '%s' $((fields[11] + fields[12]))
}

# CPU use of a process over a window of SECONDS, in per mille of one core
# (fractions of a percent show). Logs the figure under LABEL. The sleep is a
# measuring window, not a synchronisation.
tw_cpu_permille() { # PID SECONDS LABEL
  local hz before after permille
  hz=$(getconf CLK_TCK)
  before=$(tw_cpu_ticks "$1") || return 1
  sleep "$2"
  after=$(tw_cpu_ticks "$1") || return 1
  permille=$(((after - before) * 1000 / (hz * $2)))
  tw_log "CPU $3: $((after - before)) ticks in $2s = $(tw_permille_text "$permille") of a core"
  printf '%s' "$permille"
}
tw_permille_text() { printf '%s.%s%%' $(($1 / 10)) $(($1 % 10)); }

# Processes of this test (tagged), other than Wine's own.
tw_tagged_pids() {
  local dir pid comm
  for dir in /proc/[0-9]*; do
    pid=${dir#/proc/}
    [ "$pid" != $$ ] || continue
    { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "TW_TEST_TAG=$TW_TEST_TAG" || continue
    comm=$(cat "$dir/comm" 2>/dev/null) || continue
    case "$comm" in
      wineserver* | services.exe | winedevice.exe | explorer.exe | plugplay.exe | \
        svchost.exe | rpcss.exe | conhost.exe | wineboot.exe | winemenubuilder* | \
        bash | sh | sleep | cat | grep | tr) continue ;;
    esac
    tw_is_running "$pid" && printf '%s\n' "$pid"
  done
  return 0
}

# Ends every process this test started, directly or through another program.
tw_kill_tagged() {
  local pids
  pids=$(tw_tagged_pids)
  [ -n "$pids" ] || return 0
  tw_log "ending leftover processes: ${pids//$'\n'/ }"
  # shellcheck disable=SC2086
  kill -TERM $pids 2>/dev/null || true
  local p
  for p in $pids; do
    tw_poll 5 tw_is_gone "$p" || kill -KILL "$p" 2>/dev/null || true
  done
}

# ---- logs and windows -------------------------------------------------------

# tw_wait_log FILE REGEX [TIMEOUT_S=20]: waits for a line matching REGEX (grep -E).
tw_wait_log() {
  local file=$1 regex=$2 timeout=${3:-20}
  tw_poll "$timeout" grep -qE -- "$regex" "$file" 2>/dev/null && return 0
  tw_log "no line matching '$regex' in $file after ${timeout}s"
  return 1
}

# tw_count_log FILE REGEX: number of matching lines (0 when the file is missing).
tw_count_log() { grep -cE -- "$2" "$1" 2>/dev/null || true; }

# tw_drive COMMAND [OPTIONS...] [ARGS...]: runs twdriver.exe (see RIG.md).
tw_drive() { wine "$TW_DRIVER_EXE" "$@" 2>>"$TW_TMP/driver.err"; }

# tw_wait_window [DRIVER OPTIONS...]: prints the handle of the window; the
# driver waits (-T milliseconds, default 10000).
tw_wait_window() { tw_drive wait "$@"; }

tw_wait_window_gone() { tw_drive wait-gone "$@"; }

# ---- registry ---------------------------------------------------------------

# The prefix is 64-bit, so 32-bit programs see WOW6432Node: write both views.
tw_reg_set() {
  local key=$1 name=$2 data=$3 view
  for view in 32 64; do
    wine reg add "HKLM\\$key" /v "$name" /t REG_SZ /d "$data" /f /reg:$view >/dev/null 2>&1 ||
      tw_fail "cannot write HKLM\\$key\\$name"
  done
  TW_REG_KEYS+=("$key")
}

tw_reg_delete() {
  local key=$1 view
  for view in 32 64; do
    wine reg delete "HKLM\\$key" /f /reg:$view >/dev/null 2>&1 || true
  done
}

# tw_register_client kazaa|grokster|morpheus DIR: stores DIR (a Windows path)
# as the client's installation folder, in the form that client keeps it.
tw_register_client() {
  local dir=$2
  case "$1" in
    kazaa) tw_reg_set 'SOFTWARE\KaZaA\CloudLoad' ExeDir "$dir" ;;
    grokster) tw_reg_set 'SOFTWARE\Grokster\LocalContent' DatabaseDir "$dir\\db" ;;
    morpheus) tw_reg_set 'SOFTWARE\Morpheus\LocalContent' DatabaseDir "$dir\\db" ;;
    *) tw_fail "unknown client $1" ;;
  esac
}

tw_unregister_clients() {
  tw_reg_delete 'SOFTWARE\KaZaA'
  tw_reg_delete 'SOFTWARE\Grokster'
  tw_reg_delete 'SOFTWARE\Morpheus'
}

# The stand-in's folder as a Windows path, for tw_register_client.
tw_standin_winpath() { tw_winpath "$TW_STANDIN_DIR"; }

# ---- the setup dialog -------------------------------------------------------

TW_SETUP_TITLE="Tidewatch+"

# tw_fill_setup MINUTES SECONDS kazaa|grokster: waits for the setup dialog
# (first start in a prefix can be slow), types the delays (empty = blank)
# and ticks or clears the KaZaA box.
tw_fill_setup() {
  tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 60000 >/dev/null ||
    tw_fail "setup dialog did not appear"
  tw_drive set-text -t "$TW_SETUP_TITLE" 1003 "$1" || tw_fail "cannot set the refresh delay"
  tw_drive set-text -t "$TW_SETUP_TITLE" 1010 "$2" || tw_fail "cannot set the item delay"
  local state
  case "$3" in
    kazaa) state=1 ;;
    grokster) state=0 ;;
    *) tw_fail "tw_fill_setup: kazaa or grokster, not '$3'" ;;
  esac
  tw_drive check -t "$TW_SETUP_TITLE" 1001 "$state" || tw_fail "cannot set the KaZaA box"
}

tw_press_go() { tw_drive press -t "$TW_SETUP_TITLE" 1005 || tw_fail "cannot press GO"; }

# tw_start_tidewatch_with_client VAR MINUTES SECONDS: registers the stand-in
# as the KaZaA installation, starts tidewatch.exe (pid in VAR), fills the
# setup dialog, presses GO and waits until the stand-in it launched is READY
# and the hidden tray window exists. Configure the stand-in first with
# tw_standin_config when the default trees do not suit.
tw_start_tidewatch_with_client() {
  local var=$1
  tw_register_client kazaa "$(tw_standin_winpath)"
  tw_start_tidewatch "$var"
  tw_fill_setup "$2" "$3" kazaa
  tw_press_go
  tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "the stand-in client did not start"
  tw_drive wait -c TW -T 30000 >/dev/null || tw_fail "no tray window after the client started"
}

# ---- assertions -------------------------------------------------------------

tw_assert_eq() { # EXPECTED ACTUAL WHAT
  [ "$1" = "$2" ] || tw_fail "$3: expected '$1', got '$2'"
}

# ---- clean-up ---------------------------------------------------------------

tw_cleanup() {
  local status=$?
  set +e
  tw_kill_tagged
  local p
  for p in "${TW_PIDS[@]}"; do
    tw_is_running "$p" && kill -KILL "$p" 2>/dev/null
    wait "$p" 2>/dev/null
  done
  local key
  for key in "${TW_REG_KEYS[@]}"; do
    tw_reg_delete "$key"
  done
  if [ "$status" -ne 0 ] && [ "$status" -ne 77 ]; then
    local f
    for f in "$TW_TMP"/*.log "$TW_TMP"/driver.err; do
      [ -s "$f" ] && { echo "---- $f" >&2; tail -n 40 "$f" >&2; }
    done
  fi
  if [ "${TW_KEEP_TMP:-0}" = 1 ]; then
    tw_log "kept $TW_TMP"
  else
    rm -rf "$TW_TMP"
  fi
  exit "$status"
}
trap tw_cleanup EXIT
