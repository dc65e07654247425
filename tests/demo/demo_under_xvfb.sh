#!/bin/sh
# Runs the demo (scripts/lib/demo.sh) on a virtual X server from a copy of
# the program and the simulator: presses Upload (Alt+W) and waits for the
# box "Update File successfully uploaded.", a second window with the program's
# caption, while the simulator's log shows the end-of-file record answered.
# Then closes the box, exits the program and checks the simulator is gone.
# Usage: demo_under_xvfb.sh <quobin> <vantor-sim> <demo.sh> <caption>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 60 "$0" "$@"

quobin=$1
simulator=$2
demo=$3
caption=$4

cp "$quobin" "$work/quobin"
cp "$simulator" "$work/vantor-sim"
QUOBIN_DEMO_SIM_LOG="$work/sim.log" "$demo" "$work" >"$work/demo.out" 2>&1 &
pid=$!

fail() {
    echo "FAIL: $1"
    echo "--- demo output"; cat "$work/demo.out"
    echo "--- simulator log (last lines)"; tail -n 8 "$work/sim.log" 2>/dev/null
    exit 1
}

wait_for 20 shown "$caption" || fail "no window with the caption \"$caption\""
window=$(windows_named "$caption" | head -n 1)
[ -L "$work/com1" ] || fail "no com1 link beside the program"
grep -q '^0' "$work/quobin.ini" || fail "the demo wrote no settings file"

started=$(date +%s%N)
press "$window" alt+w
wait_for 60 shown "$caption" 2 || fail "no message box after Upload"
elapsed=$((($(date +%s%N) - started) / 1000000))
lines=$(grep -c '^:' "$work/demo-firmware.hex")
echo "Upload of $lines lines to the simulated controller: box after $elapsed ms (including the 2 s reset delay)"
grep -q -- '-> @' "$work/sim.log" || fail "the simulator did not answer the end-of-file record with @"

# Close the box (Return takes its OK button), then exit the program.
press "$(windows_named "$caption" | grep -v "^$window\$" | head -n 1)" Return
wait_for 5 sh -c "[ \"\$(xdotool search --onlyvisible --name '^$caption\$' | wc -l)\" -eq 1 ]" || fail "the box did not close on Return"
press "$window" alt+x
program_ends 10 || fail "the demo did not end well on Alt+X"
[ -e "$work/com1" ] && fail "the com1 link was left behind"
pgrep -f "$work/vantor-sim" >/dev/null && fail "the simulator is still running"
echo "PASS"
