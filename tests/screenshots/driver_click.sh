#!/usr/bin/env bash
# The driver's rect and click: a tree view's rectangle lies inside its
# window, and real clicks on rows computed from that rectangle select
# exactly the items under the mouse, in the order clicked.
# shellcheck source=tests/e2e/lib.sh
source "$TW_E2E_LIB"

TVM_GETINDENT=0x1106
TVM_GETITEMHEIGHT=0x111C
EDGE=2 # WS_EX_CLIENTEDGE border

tw_standin_config <<CFG
title Click target
tree
item First
item Second
item Third
CFG
tw_start_standin client
tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "the stand-in did not start"
window=$(tw_wait_window -c Kazaa -v -T 10000) || tw_fail "no stand-in window"
tree=$(tw_drive children -w "$window" | awk '/class=SysTreeView32/ { print $1; exit }')
[ -n "$tree" ] || tw_fail "the stand-in has no tree view"

read -r wx wy ww wh <<<"$(tw_drive rect -w "$window" | tr -d '\r')"
read -r tx ty tw th <<<"$(tw_drive rect -w "$tree" | tr -d '\r')"
if [ -z "$wh" ] || [ -z "$th" ]; then
  tw_fail "rect printed '$wx $wy $ww $wh' and '$tx $ty $tw $th'"
fi
tw_log "window $wx,$wy ${ww}x$wh, tree $tx,$ty ${tw}x$th"
((ww > 0 && wh > 0 && tw > 0 && th > 0)) || tw_fail "empty rectangle"
((tx > wx && ty > wy && tx + tw < wx + ww && ty + th < wy + wh)) ||
  tw_fail "the tree's rectangle is not inside its window's"

height=$(tw_drive send -w "$tree" $TVM_GETITEMHEIGHT | tr -d '\r')
indent=$(tw_drive send -w "$tree" $TVM_GETINDENT | tr -d '\r')
((height > 0 && indent > 0)) || tw_fail "item height '$height', indent '$indent'"

# click_row ROW: a left click on the text of top-level row ROW.
click_row() {
  local x=$((tx + EDGE + indent + 12)) y=$((ty + EDGE + $1 * height + height / 2))
  tw_drive click "$x" "$y" left || tw_fail "click at $x,$y failed"
}
click_row 2
tw_wait_log "$TW_STANDIN_LOG" ' SELECT tree=0 item=Third$' 10 || tw_fail "clicking row 2 did not select Third"
click_row 1
tw_wait_log "$TW_STANDIN_LOG" ' SELECT tree=0 item=Second$' 10 || tw_fail "clicking row 1 did not select Second"
selections=$(grep ' SELECT ' "$TW_STANDIN_LOG" | sed 's/.* item=//' | tr -d '\r' | paste -sd,)
tw_assert_eq "Third,Second" "$selections" "items selected by the clicks"

if tw_drive click 10 >/dev/null 2>&1; then tw_fail "click with one coordinate was accepted"; fi
if tw_drive click 10 10 middle >/dev/null 2>&1; then tw_fail "click with a middle button was accepted"; fi
tw_log "rect and click ok"
