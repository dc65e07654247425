#!/bin/sh
# The real quobin-station on a virtual screen, on a job a supervisor approved
# with quobin-cli job approve into a SQLite file, with a board ID rule. The
# operator reads the jobs and picks it by keyboard, ticks nothing more and
# starts; two simulated fixtures wait for their boards' IDs. IDs are typed as
# a barcode scanner types them (a key at a time, then Return) with the focus
# wherever it is: the lowest waiting slot (Com 1) takes them. A label that
# fails the rule is refused with its reason on the tile, a good one is
# flashed, the same label again is refused with where it passed, and once
# Com 1 has its boards the next scan is Com 2's. A screen reader's view
# through AT-SPI tells each step; quobin-cli records --board reads back each
# ID's board.
# Usage: station_jobs_under_xvfb.sh <quobin-station> <vantor-sim> <quobin-cli> <read_tiles.py> <grab_screen> [screenshot.png]
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
QUOBIN_XVFB_SCREEN=1024x600x24
under_xvfb 120 "$0" "$@"

station=$1
sim=$2
cli=$3
reader=$4
grab=$5
shot=${6:-}
. "$(dirname "$0")/fixtures_lib.sh"
tiles() {
    /usr/bin/python3 "$reader" > "$work/tiles.txt" 2>/dev/null
}
shows() { # shows NAME DESCRIPTION-PATTERN
    tiles && grep -q "^$1	$2\$" "$work/tiles.txt"
}
scan() { # scan LABEL: typed as a scanner types, into whatever has the focus
    xdotool type --delay 15 "$1" 2>/dev/null
    xdotool key Return 2>/dev/null
}

cp "$station" "$work/quobin-station"
"$sim" --write-sample "$work/pump.hex" --records 200 >/dev/null || fail "no sample image"
"$cli" job approve pump "$work/pump.hex" --board-id '^QB[0-9]{8}$' --records "$work/line.sqlite" >/dev/null \
    || fail "quobin-cli job approve failed"
# The image is in the database now: the station needs no file.
rm "$work/pump.hex"
fixture "$work/com1" --fixture 600000 --boards 2
fixture "$work/com2" --fixture 600000 --boards 1
cat > "$work/quobin-station.ini" <<INI
[slots]
ports=Com 1, Com 2
[records]
target=$work/line.sqlite
[station]
name=bench-scan
sound=false
INI

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/quobin-station" &
pid=$!
wait_for 10 shown "Quobin Station" || fail "no station window"
window=$(windows_named "Quobin Station" | head -n 1)
# Read the jobs (Alt+A), pick the first (Alt+O, Down): the header names it.
pick() {
    press "$window" alt+a
    press "$window" alt+o
    press "$window" Down
    sleep 0.5
    shows "Job" "Job pump version 1  approved by .*  [0-9a-f]\{12\}"
}
wait_for 10 pick || { cat "$work/tiles.txt"; fail "the approved job cannot be picked"; }
press "$window" alt+s

wait_for 20 shows "Slot Com 1" "SCAN BOARD ID; the next scan goes here" || { cat "$work/tiles.txt"; fail "Com 1 does not ask for a scan"; }
wait_for 10 shows "Slot Com 2" "SCAN BOARD ID" || { cat "$work/tiles.txt"; fail "Com 2 does not ask for a scan"; }

scan QB123
wait_for 10 shows "Slot Com 1" "SCAN BOARD ID: refused QB123: it does not match the job's rule ^QB\[0-9\]{8}\$; the next scan goes here" \
    || { cat "$work/tiles.txt"; fail "the bad label is not refused on Com 1's tile"; }
if [ -n "$shot" ]; then
    "$grab" "$shot" || fail "no screenshot"
    echo "screenshot $shot"
fi

scan QB00000001
wait_for 30 sh -c "'$cli' records --records '$work/line.sqlite' --board QB00000001 --csv | grep -q ',success,'" \
    || fail "QB00000001 was not flashed"
wait_for 10 shows "Slot Com 1" "SCAN BOARD ID; the next scan goes here" || { cat "$work/tiles.txt"; fail "Com 1 does not ask for its next board"; }
scan QB00000001
wait_for 10 shows "Slot Com 1" "SCAN BOARD ID: refused QB00000001: it passed already (station bench-scan, slot Com 1, .*); the job allows no re-flash; the next scan goes here" \
    || { cat "$work/tiles.txt"; fail "the duplicate is not refused with where it passed"; }

scan QB00000002
wait_for 10 shows "Slot Com 2" "SCAN BOARD ID; the next scan goes here" || { cat "$work/tiles.txt"; fail "Com 2 is not served once Com 1 has its board"; }
scan QB00000003
wait_for 30 sh -c "'$cli' records --records '$work/line.sqlite' --board QB00000003 --csv | grep -q ',success,'" \
    || fail "QB00000003 was not flashed"
cat "$work/tiles.txt"

press "$window" ctrl+q
program_ends 20 || fail "the window did not close"
"$cli" records --records "$work/line.sqlite" --csv > "$work/records.csv" || fail "quobin-cli records cannot read the records"
/usr/bin/python3 - "$work/records.csv" <<'PY' || fail "the records do not tie each ID to its slot"
import csv, sys
rows = [r for r in csv.DictReader(open(sys.argv[1], newline="")) if r["result"] == "success"]
got = sorted((r["board_id"], r["slot"], r["job"], r["job_version"]) for r in rows)
print(got)
want = [("QB00000001", "Com 1", "pump", "1"), ("QB00000002", "Com 1", "pump", "1"), ("QB00000003", "Com 2", "pump", "1")]
sys.exit(0 if got == want else 1)
PY
echo "PASS"
