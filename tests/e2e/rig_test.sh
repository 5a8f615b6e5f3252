#!/usr/bin/env bash
# The rig itself: the stand-in builds its trees from the configuration, logs
# commands and selections, exits 0 on close and 2 on a bad configuration;
# the driver finds, reads and answers windows.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

tw_standin_config <<'CFG'
title Rig check
tree
item Alpha
child Alpha child
item Beta
nested-tree 2
item Deep
tree
CFG
tw_start_standin client
tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "stand-in not ready"
grep -q ' START pid=' "$TW_STANDIN_LOG" || tw_fail "no START line"

main=$(tw_drive wait -c Kazaa -t "Rig check") || tw_fail "driver did not find the stand-in"
children=$(tw_drive children -w "$main")
trees=$(grep -c 'class=SysTreeView32' <<<"$children" || true)
tw_assert_eq 3 "$trees" "tree views below the main window"
# The nested tree sits two panels deep: its parent is not the main window.
nested=$(grep 'class=SysTreeView32' <<<"$children" | grep -vc "parent=$main" || true)
tw_assert_eq 1 "$nested" "tree views below an intermediate window"

# Commands are logged with their id, in order.
tw_drive command -w "$main" 32880
tw_drive command -w "$main" 32986
tw_wait_log "$TW_STANDIN_LOG" ' WM_COMMAND 32986$' || tw_fail "command 32986 not logged"
order=$(grep -oE 'WM_COMMAND [0-9]+' "$TW_STANDIN_LOG" | tr '\n' ' ')
tw_assert_eq "WM_COMMAND 32880 WM_COMMAND 32986 " "$order" "logged commands"

# Select the second top-level item of the first tree and of the nested tree.
TVM_GETNEXTITEM=$((0x1100 + 10))
TVM_SELECTITEM=$((0x1100 + 11))
tree0=$(grep 'class=SysTreeView32' <<<"$children" | head -n1 | cut -d' ' -f1)
root=$(tw_drive send -w "$tree0" $TVM_GETNEXTITEM 0 0)
second=$(tw_drive send -w "$tree0" $TVM_GETNEXTITEM 1 "$root")
tw_drive send -w "$tree0" $TVM_SELECTITEM 9 "$second" >/dev/null
tw_wait_log "$TW_STANDIN_LOG" ' SELECT tree=0 item=Beta$' || tw_fail "selection in tree 0 not logged"
tree1=$(grep 'class=SysTreeView32' <<<"$children" | sed -n 2p | cut -d' ' -f1)
deep=$(tw_drive send -w "$tree1" $TVM_GETNEXTITEM 0 0)
tw_drive send -w "$tree1" $TVM_SELECTITEM 9 "$deep" >/dev/null
tw_wait_log "$TW_STANDIN_LOG" ' SELECT tree=1 item=Deep$' || tw_fail "selection in nested tree not logged"

# Every log line starts with a millisecond time.
bad=$(grep -vcE '^[0-9]+ [A-Z-]+' "$TW_STANDIN_LOG" || true)
tw_assert_eq 0 "$bad" "log lines without a time"

# Close box: the window goes and the process ends with 0.
tw_drive close -w "$main"
tw_drive wait-gone -w "$main" -T 10000 || tw_fail "stand-in window still open"
tw_wait_exit "$client" || tw_fail "stand-in did not exit"
tw_assert_eq 0 "$TW_EXIT_CODE" "stand-in exit code after close"
tw_wait_log "$TW_STANDIN_LOG" ' CLOSE$' 1 || tw_fail "close not logged"

# A configuration error: logged with its line, exit code 2, no window.
tw_standin_config <<'CFG'
tree
child orphan
CFG
tw_start_standin broken Grokster
tw_wait_exit "$broken" 30 || tw_fail "stand-in with a bad configuration kept running"
tw_assert_eq 2 "$TW_EXIT_CODE" "exit code for a bad configuration"
grep -q 'ERROR config line 2: child before any item' "$TW_STANDIN_LOG" ||
  tw_fail "configuration error not logged"

# The driver's own failures: a missing window times out with status 1.
status=0
tw_drive wait -c NoSuchClass -T 300 >/dev/null || status=$?
tw_assert_eq 1 "$status" "driver status for a missing window"
status=0
tw_drive set-text -c Kazaa >/dev/null || status=$?
tw_assert_eq 2 "$status" "driver status for a usage error"
tw_log "rig ok"
