#!/usr/bin/env bash
# How a repair job ends without a report: the warning answered No, and a
# selection too large for the job's 64 KiB list, which must leave every file
# alone and ask for fewer files.
source "$TW_E2E_LIB"
source "$TW_SOURCE_DIR/tests/repair/repair_lib.sh"

SELECT_FEWER="Too many files are selected. Please select fewer files and try again."

# no_window_within MS DRIVER-OPTIONS...: fails when such a window shows up.
no_window_within() {
  local ms=$1
  shift
  if tw_drive wait -v -T "$ms" "$@" >/dev/null 2>&1; then return 1; fi
  return 0
}

start_tidewatch

tw_log "warning answered No: no file dialog"
tw_drive command -w "$SETUP" 1006 || tw_fail "cannot post command 1006"
tw_drive msgbox-answer -t Warning -T 20000 no || tw_fail "no warning to refuse"
no_window_within 2000 -t "$OPEN_TITLE" || tw_fail "a file dialog followed the answer No"

tw_log "selection larger than 64 KiB: asked to select fewer, nothing touched"
many="$TW_TMP/many"
mkdir -p "$many"
make_damaged "$TW_TMP/damaged.ref"
names=""
for i in $(seq 1 330); do
  n=$(printf 'f%03d_%0196d.dat' "$i" 0)
  cp "$TW_TMP/damaged.ref" "$many/$n"
  names+="\"$n\" "
done
printf '%s' "${names% }" >"$TW_TMP/names.txt"
before=$(cd "$many" && md5sum -- * | md5sum)
start_job
dialog=$(tw_wait_window -t "$OPEN_TITLE" -v -T 20000) || tw_fail "no open-file dialog"
tw_drive set-text -w "$dialog" $IDC_FILE_NAME "$(tw_winpath "$many")" || tw_fail "cannot type the folder"
tw_drive press -w "$dialog" 1 || tw_fail "cannot open the folder"
tw_poll 10 field_is_empty "$dialog" || tw_fail "the dialog did not move to the folder"
tw_drive set-text-file -w "$dialog" $IDC_FILE_NAME "$(tw_winpath "$TW_TMP/names.txt")" ||
  tw_fail "cannot type 330 names"
tw_drive press -w "$dialog" 1 || tw_fail "cannot press Open"
text=$(tw_drive msgbox-text -t Error -T 20000) || tw_fail "no message about the selection"
tw_assert_eq "$SELECT_FEWER" "${text%$'\r'}" "message for a selection too large"
tw_drive msgbox-answer -t Error ok || tw_fail "cannot close the message"
no_window_within 2000 -t "$REPORT_TITLE" || tw_fail "a report followed the message"
no_window_within 100 -m || tw_fail "a question followed the message"
tw_assert_eq "$before" "$(cd "$many" && md5sum -- * | md5sum)" "the selected files"

tw_is_running "$TW_PID" || tw_fail "tidewatch.exe ended"
tw_log "selection limits ok"
