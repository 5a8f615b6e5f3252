# Helpers for the repair job's end-to-end tests; source after "$TW_E2E_LIB".
#
# DAT files are written byte by byte here; reports are read from control
# 1010 of the report dialog and compared byte for byte with the expected
# text (CR LF line ends included).

REPORT_TITLE="DAT Repairer report"
REPORT_BANNER="Website for Tidewatch: https://github.com/tidewatch/tidewatch . Email reports to tidewatch.reports@example.org . Good luck!!"
WARNING_TEXT="This is alpha software. DO NOT DISTRIBUTE! Use ENTIRELY at your OWN risk. Make backups of ANY file you attempt to repair. Do you wish to continue?"
OPEN_TITLE="Select files to verify"
IDC_FILE_NAME=0x47c

# ---- DAT files --------------------------------------------------------------

# The 41-byte trailer of an intact file: the text and a footer whose region
# (39 bytes: four zeros, the value 1 and the text) has checksum 0x80163648.
dat_text() { printf 'Some Artist - Some Title.mp3@K1'; }
dat_footer() { printf 'KAZA\x27\x00\x48\x36\x16\x80'; }
dat_head() { # 64 data bytes, 2500 zero bytes, the value 1
  local i
  for i in $(seq 64); do printf '\x11'; done
  head -c 2500 /dev/zero
  printf '\x01\x00\x00\x00'
}

# make_intact FILE: a file as a repair leaves it.
make_intact() { { dat_head; dat_text; dat_footer; } >"$1"; }

# make_damaged FILE: the intact file with 37 junk bytes (the last one not
# printable) in front of the text; a repair turns it into make_intact's file.
make_damaged() {
  local i
  {
    dat_head
    for i in $(seq 0 35); do printf "\\x$(printf %02x $((0x80 + i * 3)))"; done
    printf '\x05'
    dat_text
    dat_footer
  } >"$1"
}

# make_nomagic FILE: the intact file with the magic "KAZB".
make_nomagic() { { dat_head; dat_text; printf 'KAZB\x27\x00\x48\x36\x16\x80'; } >"$1"; }

# region_checksum FILE: the checksum, as the report prints it, of the 39
# bytes in front of the footer (the complement of the usual CRC-32).
region_checksum() {
  python3 -c 'import sys, zlib; d = open(sys.argv[1], "rb").read()[-49:-10]; print("%x" % (~zlib.crc32(d) & 0xffffffff), end="")' "$1"
}

# ---- expected report text ---------------------------------------------------

# Each helper prints lines with CR LF ends; concatenate them into a file.
exp_banner() { printf '%s\r\n\r\n' "$REPORT_BANNER"; }
exp_verify() { # PATH POINTER STORED CALCULATED
  printf 'Verifying %s...\r\nPointer: %s\r\nFile Checksum: %s\r\nCalculated Checksum: %s\r\n' "$@"
}
exp_intact() { exp_verify "$1" 27 80163648 80163648; printf 'File %s is ok, repair not needed\r\n' "$1"; }

# ---- the program ------------------------------------------------------------

# start_tidewatch: tidewatch.exe with its setup dialog up; sets TW_PID.
start_tidewatch() {
  tw_start_tidewatch TW_PID
  SETUP=$(tw_wait_window -t "Tidewatch+" -v -T 60000) || tw_fail "no setup dialog"
}

# start_job: command 1006 to the setup dialog, the warning checked and
# answered Yes.
start_job() {
  tw_drive command -w "$SETUP" 1006 || tw_fail "cannot post command 1006"
  local text
  text=$(tw_drive msgbox-text -t Warning -T 20000) || tw_fail "no warning box"
  tw_assert_eq "$WARNING_TEXT" "${text%$'\r'}" "warning text"
  tw_drive msgbox-answer -t Warning yes || tw_fail "cannot answer the warning"
}

# choose_files WINFOLDER NAME...: fills the open-file dialog (one name: its
# full path; several: the folder first, then the quoted names) and opens.
choose_files() {
  local folder=$1
  shift
  local dialog
  dialog=$(tw_wait_window -t "$OPEN_TITLE" -v -T 20000) || tw_fail "no open-file dialog"
  if [ $# -eq 1 ]; then
    tw_drive set-text -w "$dialog" $IDC_FILE_NAME "$folder\\$1" || tw_fail "cannot type the name"
  else
    tw_drive set-text -w "$dialog" $IDC_FILE_NAME "$folder" || tw_fail "cannot type the folder"
    tw_drive press -w "$dialog" 1 || tw_fail "cannot open the folder"
    tw_poll 10 field_is_empty "$dialog" || tw_fail "the dialog did not move to $folder"
    local names="" n
    for n in "$@"; do names+="\"$n\" "; done
    tw_drive set-text -w "$dialog" $IDC_FILE_NAME "${names% }" || tw_fail "cannot type the names"
  fi
  tw_drive press -w "$dialog" 1 || tw_fail "cannot press Open"
  tw_drive wait-gone -w "$dialog" -T 20000 || tw_fail "the open-file dialog stayed open"
}
field_is_empty() { [ -z "$(tw_drive get-text -w "$1" $IDC_FILE_NAME | tr -d '\r\n')" ]; }

# answer_question PATH yes|no: checks the repair question for PATH and answers it.
answer_question() {
  local text
  text=$(tw_drive msgbox-text -t Error -T 20000) || tw_fail "no repair question for $1"
  tw_assert_eq "File $1 is damaged. Do you wish to attempt repair?" "${text%$'\r'}" "repair question"
  tw_drive msgbox-answer -t Error "$2" || tw_fail "cannot answer the repair question"
}

# wait_report VAR: the handle of a visible report dialog not yet seen.
wait_report() {
  local var=$1 found="" deadline=$(($(tw_now_ms) + 30000)) h
  while [ -z "$found" ]; do
    for h in $(tw_drive list -t "$REPORT_TITLE" -v 2>/dev/null | cut -d' ' -f1); do
      case " ${SEEN_REPORTS:-} " in *" $h "*) ;; *) found=$h ;; esac
    done
    [ -n "$found" ] && break
    [ "$(tw_now_ms)" -lt "$deadline" ] || tw_fail "no new report dialog"
    sleep 0.1
  done
  SEEN_REPORTS="${SEEN_REPORTS:-} $found"
  printf -v "$var" '%s' "$found"
}

# check_report HWND EXPECTED_FILE WHAT: control 1010's text equals the file.
check_report() {
  local actual="$TW_TMP/actual.$RANDOM"
  # The driver ends its output with one "\n" of its own.
  tw_drive get-text -w "$1" 1010 >"$actual.raw" || tw_fail "cannot read the report of $3"
  head -c -1 "$actual.raw" >"$actual"
  if ! cmp -s "$2" "$actual"; then
    tw_log "report of $3 differs; expected then actual:"
    od -c "$2" | tail -n 20 >&2
    od -c "$actual" | tail -n 20 >&2
    diff <(tr -d '\r' <"$2") <(tr -d '\r' <"$actual") >&2 || true
    tw_fail "report of $3"
  fi
}

# close_report HWND: closes a report dialog and waits until it has gone.
close_report() {
  tw_drive close -w "$1" || tw_fail "cannot close report $1"
  tw_drive wait-gone -w "$1" -T 10000 || tw_fail "report $1 still open"
}
