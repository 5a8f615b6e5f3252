#!/usr/bin/env bash
# The guided tour that `make run` gives when there is no display: the setup
# dialog filled, GO pressed, the stand-in client launched, the tray menu's
# exit, a screenshot of each step (in TW_SCREENSHOTS, default
# $TW_TMP/screenshots) and what happens printed as it happens.
source "${TW_E2E_LIB:?run through ctest or set TW_E2E_LIB}"

shots=${TW_SCREENSHOTS:-$TW_TMP/screenshots}
mkdir -p "$shots"
rm -f "$shots"/[0-9][0-9]-*.png
step=0
say() { printf '==> %s\n' "$*"; }
shot() { # NAME WINDOW-OPTIONS...: repaint those windows, then capture the screen
  local name=$1
  shift
  [ $# -eq 0 ] || tw_drive redraw "$@" || true
  step=$((step + 1))
  local file
  file=$(printf '%s/%02d-%s.png' "$shots" "$step" "$name")
  import -window root "$file" || tw_fail "screenshot $file failed"
  printf '    screenshot %s\n' "$file"
}

WM_KEYDOWN=0x0100
VK_RETURN=0x0D
VK_DOWN=0x28
WM_TRAYNOTIFY=0x0401
TRAY_ICON_ID=666
WM_RBUTTONDOWN=0x0204

if wine reg query 'HKLM\SOFTWARE\KaZaA\CloudLoad' /v ExeDir /reg:32 >/dev/null 2>&1; then
  say "A KaZaA installation is registered already; using it"
else
  say "Registering the stand-in client as the KaZaA installation: $(tw_standin_winpath)\\Kazaa.exe"
  tw_register_client kazaa "$(tw_standin_winpath)"
fi

say "Starting tidewatch.exe"
tw_start_tidewatch tw
dialog=$(tw_drive wait -c '#32770' -t "$TW_SETUP_TITLE" -v -T 60000) ||
  tw_fail "the setup dialog did not appear"
say "The setup dialog \"$TW_SETUP_TITLE\" is open ($dialog)"
shot setup-dialog -w "$dialog"

say "Typing a refresh delay of 1 minute and an item delay of 2 seconds; ticking \"mark this box!\" (KaZaA)"
tw_fill_setup 1 2 kazaa
shot setup-filled -w "$dialog"

say "Pressing GO"
tw_press_go
tw_wait_log "$TW_STANDIN_LOG" ' READY ' 60 || tw_fail "the client was not launched"
client=$(tw_drive wait -c Kazaa -v -T 10000) || tw_fail "the client's window is not visible"
say "tidewatch.exe launched the client; its window ($client) has these tree views:"
tw_drive children -w "$client" | grep 'class=SysTreeView32' | sed 's/^/    /'
tray=$(tw_drive wait -c TW -T 30000) || tw_fail "no tray window"
say "tidewatch.exe found the client's window and now waits in the notification area (window $tray)"
say "The client's log so far:"
sed 's/^/    /' "$TW_STANDIN_LOG"
shot client-started -w "$client"

say "Opening the tray icon's menu and choosing \"Exit\""
tw_drive post -w "$tray" $WM_TRAYNOTIFY $TRAY_ICON_ID $WM_RBUTTONDOWN
if menu=$(tw_drive wait -c '#32768' -v -T 5000 2>/dev/null); then
  shot tray-menu
  tw_drive post -w "$menu" $WM_KEYDOWN $VK_DOWN 0
  tw_drive post -w "$menu" $WM_KEYDOWN $VK_RETURN 0
fi
if tw_wait_exit "$tw" 10; then
  say "tidewatch.exe ended with exit code $TW_EXIT_CODE"
else
  say "tidewatch.exe did not leave through its tray menu; ending it"
  kill -TERM "$tw"
  tw_wait_exit "$tw" 10 || tw_fail "tidewatch.exe does not end"
fi

say "Closing the client"
tw_drive close -w "$client"
tw_wait_log "$TW_STANDIN_LOG" ' EXIT 0$' 20 || tw_fail "the client did not close"
shot finished
count=$(find "$shots" -name '[0-9][0-9]-*.png' -size +0 | wc -l)
[ "$count" -eq "$step" ] || tw_fail "expected $step screenshots in $shots, found $count"
for f in "$shots"/[0-9][0-9]-*.png; do
  [ "$(head -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || tw_fail "$f is not a PNG"
done
say "Done: $step screenshots in $shots"
