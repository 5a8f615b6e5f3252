#!/usr/bin/env bash
# One real refresh of tidewatch.exe against the stand-in client: refresh
# delay 1 minute, item delay 3 seconds, a tree of four top-level items (one
# with a child). Checks the first refresh's time and exact order, measures
# the pauses and the idle program's CPU use, and expects exit code 0 at
# the next refresh once the client has closed.
source "$TW_E2E_LIB"

tw_standin_config <<'CFG'
tree
item First
child First child
item Second
item Third
item Fourth
CFG

tw_start_tidewatch_with_client tw 1 3
tray_ms=$(tw_now_ms)
results="$TW_BUILD_DIR/tests/e2e/refresh_measures.txt"
: >"$results"

# Idle in the tray until the first refresh: CPU use over 10 s.
permille=$(tw_cpu_permille "$tw" 10 "idle in the tray") || tw_fail "cannot read tidewatch.exe's CPU time"
echo "idle_cpu_permille=$permille" >>"$results"
[ "$permille" -lt 50 ] || tw_fail "idle tidewatch.exe used $(tw_permille_text "$permille") of a core"
[ "$(tw_count_log "$TW_STANDIN_LOG" ' WM_COMMAND ')" = 0 ] || tw_fail "a refresh came before the minute was up"

# The whole first walk: four 32986 commands, the last after about 4 pauses.
walk_done() { [ "$(tw_count_log "$TW_STANDIN_LOG" ' WM_COMMAND 32986$')" -ge 4 ]; }
tw_poll 100 walk_done ||
  tw_fail "the first refresh did not complete within 100 s of the tray window"

# Events after READY as "TICK EVENT..." lines.
events=$(awk 'seen && ($2 == "WM_COMMAND" || $2 == "SELECT") { print } $2 == "READY" { seen = 1; ready = $1 }
  END { print ready > "/dev/stderr" }' "$TW_STANDIN_LOG" 2>"$TW_TMP/ready")
ready=$(cat "$TW_TMP/ready")
actual=$(cut -d' ' -f2- <<<"$events")
expected="WM_COMMAND 32880
SELECT tree=0 item=First
WM_COMMAND 32880
WM_COMMAND 32986
SELECT tree=0 item=Second
WM_COMMAND 32986
SELECT tree=0 item=Third
WM_COMMAND 32986
SELECT tree=0 item=Fourth
WM_COMMAND 32986"
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  tw_fail "the first refresh's messages differ from the expected order (diff above: < expected, > actual)"
fi

mapfile -t ticks < <(cut -d' ' -f1 <<<"$events")
first=$((ticks[0] - ready))
tw_log "first refresh ${first} ms after the client was ready"
echo "first_refresh_after_ready_ms=$first" >>"$results"
[ "$first" -ge 58000 ] && [ "$first" -le 75000 ] || tw_fail "first refresh after $first ms, expected about 60000"

# Pauses: after the first item's 32986, and between each later item's
# selection and its 32986. Everything else follows at once.
pause_pairs="3:4 4:5 6:7 8:9"
quick_pairs="0:1 1:2 2:3 5:6 7:8"
observed=""
for pair in $pause_pairs; do
  ms=$((ticks[${pair#*:}] - ticks[${pair%:*}]))
  observed+="$ms "
  [ "$ms" -ge 2900 ] && [ "$ms" -le 4000 ] || tw_fail "pause $pair lasted $ms ms, configured 3000"
done
for pair in $quick_pairs; do
  ms=$((ticks[${pair#*:}] - ticks[${pair%:*}]))
  [ "$ms" -le 1000 ] || tw_fail "no pause expected at $pair, took $ms ms"
done
tw_log "pauses (configured 3000 ms): $observed"
echo "item_delay_3s_observed_ms=$observed" >>"$results"

# The client closes: the program keeps running until its next refresh,
# which ends it with exit code 0.
closed_ms=$(tw_now_ms)
tw_drive close -c Kazaa || tw_fail "cannot close the stand-in"
tw_wait_log "$TW_STANDIN_LOG" ' CLOSE$' 10 || tw_fail "the stand-in did not close"
tw_wait_exit "$tw" 75 || tw_fail "tidewatch.exe still running 75 s after the client closed"
tw_assert_eq 0 "$TW_EXIT_CODE" "exit code after the client closed"
ended_ms=$(tw_now_ms)
since_tray=$((ended_ms - tray_ms))
tw_log "ended $((ended_ms - closed_ms)) ms after the client closed, $since_tray ms after the tray window appeared"
[ "$since_tray" -ge 115000 ] || tw_fail "ended before the second refresh was due"
tw_log "refresh walk ok"
