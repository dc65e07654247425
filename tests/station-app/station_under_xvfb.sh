#!/bin/sh
# The real quobin-station on a 1024x600 virtual screen with four simulated
# fixtures: one board passes (Com 1), one fails (Com 2), one slot waits for a
# board (Com 3), one flashes at the wire's real pace (Com 4), and one line
# keeps sending "^" without ever answering (Com 5): one no-response, counted
# apart, then "line noisy". A screen
# reader's view through AT-SPI must show each tile's state and the header's
# counts. Stop asks first and cancels the board in progress; the records the
# window wrote, read back by quobin-cli records, carry what quobin-cli
# station records for the same boards.
# Usage: station_under_xvfb.sh <quobin-station> <vantor-sim> <quobin-cli> <read_tiles.py> <grab_screen> [screenshot.png]
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
# shows NAME DESCRIPTION-PATTERN: the screen reader finds that tile so described.
shows() {
    tiles && grep -q "^$1	$2\$" "$work/tiles.txt"
}

# A copy of the program in a folder of its own: its set-up file and the
# comN links live beside it.
cp "$station" "$work/quobin-station"
"$sim" --write-sample "$work/job.hex" --records 3000 >/dev/null || fail "no sample image"
fixture "$work/com1" --fixture 600000 --boards 1
fixture "$work/com2" --fixture 600000 --boards 1 --fault checksum-always:3
fixture "$work/com3" --no-caret
fixture "$work/com4" --fixture 600000 --boards 1 --pace
fixture "$work/com5" --no-caret --fault silent --chatter 100
cat > "$work/quobin-station.ini" <<INI
[job]
file=$work/job.hex
[slots]
ports=Com 1, Com 2, Com 3, Com 4, Com 5
[records]
target=$work/window.sqlite
[station]
name=bench-x
sound=false
INI

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/quobin-station" &
pid=$!
wait_for 10 shown "Quobin Station" || fail "no station window"
window=$(windows_named "Quobin Station" | head -n 1)
press "$window" alt+s

wait_for 30 shows "Slot Com 1" "PASS" || { cat "$work/tiles.txt"; fail "Com 1 does not show PASS"; }
wait_for 10 shows "Slot Com 2" "FAIL: The controller rejected line 3" || { cat "$work/tiles.txt"; fail "Com 2 does not show its failure in the operator's words"; }
shows "Slot Com 3" "waiting for a board" || { cat "$work/tiles.txt"; fail "Com 3 is not waiting for a board"; }
wait_for 10 shows "Slot Com 4" "flashing [0-9]* %" || { cat "$work/tiles.txt"; fail "Com 4 is not flashing"; }
wait_for 5 shows "Totals" "Passed 1   Failed 1   .*" || { cat "$work/tiles.txt"; fail "the header's counts are not read"; }
wait_for 15 shows "Slot Com 5" "line noisy" || { cat "$work/tiles.txt"; fail "Com 5 does not show its noisy line"; }
shows "Totals" "Passed 1   Failed 1   .*   No response 1" || { cat "$work/tiles.txt"; fail "the no-response is not counted apart"; }
cat "$work/tiles.txt"
if [ -n "$shot" ]; then
    "$grab" "$shot" || fail "no screenshot"
    echo "screenshot $shot"
fi

# Stop while Com 4 flashes: a question first (Yes is the default), then
# the board is cancelled and recorded.
press "$window" alt+s
wait_for 5 shown "Quobin Station" 2 || fail "Stop did not ask"
box=$(windows_named "Quobin Station" | grep -v "^$window\$" | head -n 1)
press "$box" Return
wait_for 15 shows "Slot Com 4" "stopped" || { cat "$work/tiles.txt"; fail "Com 4 did not stop"; }
# The cancelled board is neither passed nor failed, in the counts and the yield.
shows "Totals" "Passed 1   Failed 1   First-pass yield 50.0 %.*" || { cat "$work/tiles.txt"; fail "the cancelled board was counted"; }

# quobin-cli station on the same kind of boards, into records of its own.
fixture "$work/com5" --fixture 600000 --boards 1
fixture "$work/com6" --fixture 600000 --boards 1 --fault checksum-always:3
"$cli" station --slot "$work/com5" --slot "$work/com6" --records "$work/cli.sqlite" --station bench-x \
    --count 1 "$work/job.hex" >/dev/null 2>&1 || fail "quobin-cli station did not reach its count"

"$cli" records --records "$work/window.sqlite" --csv > "$work/window.csv" || fail "quobin-cli records cannot read the window's records"
"$cli" records --records "$work/cli.sqlite" --csv > "$work/cli.csv" || fail "quobin-cli records cannot read its own records"
/usr/bin/python3 - "$work/window.csv" "$work/cli.csv" <<'PY' || fail "the window's records differ from the command line's"
import csv, sys
# What a board's record says of the board, beside where and when.
same = ["station", "job_sha256", "job_file", "bootloader_version", "result", "message", "detail",
        "lines_sent", "resends", "questions", "quobin_version", "log_path"]
window = list(csv.DictReader(open(sys.argv[1], newline="")))
cli = list(csv.DictReader(open(sys.argv[2], newline="")))
# The noisy line's one no-response, and nothing more from it.
noisy = [r for r in window if r["result"] == "no-response"]
print("window no-responses:", [(r["slot"], r["result"]) for r in noisy])
window = [r for r in window if r["result"] != "no-response"]
print("window:", [(r["slot"], r["result"]) for r in window])
print("cli:   ", [(r["slot"], r["result"]) for r in cli])
by_result = lambda rows, passed: [r for r in rows if (r["result"] == "success") == passed and r["result"] != "cancelled"]
ok = len(noisy) == 1 and len(window) == 3 and [r["result"] for r in window].count("cancelled") == 1
for passed in (True, False):
    a, b = by_result(window, passed), by_result(cli, passed)
    if len(a) != 1 or len(b) != 1:
        ok = False
        continue
    for field in same:
        if a[0][field] != b[0][field]:
            print(f"{field}: window {a[0][field]!r}, cli {b[0][field]!r}")
            ok = False
sys.exit(0 if ok else 1)
PY
echo "PASS"
