#!/bin/sh
# Runs the demo (scripts/lib/demo.sh) on a virtual X server from a copy of
# the program and the simulator: presses Upload (Alt+W) and waits for the
# box "Update File successfully uploaded.", a second window with the program's
# caption, while the simulator's log shows the end-of-file record answered.
# Then closes the box, exits the program and checks the simulator is gone.
# Usage: demo_under_xvfb.sh <quobin> <vantor-sim> <demo.sh> <caption>
set -u

if [ -z "${QUOBIN_DEMO_UNDER_XVFB:-}" ]; then
    QUOBIN_DEMO_UNDER_XVFB=1 exec timeout 100 xvfb-run -a -s "-screen 0 800x600x24" sh "$0" "$@"
fi

quobin=$1
simulator=$2
demo=$3
caption=$4
work=$(mktemp -d)
pid=
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

cp "$quobin" "$work/quobin"
cp "$simulator" "$work/vantor-sim"
unset QT_QPA_PLATFORM
QUOBIN_DEMO_SIM_LOG="$work/sim.log" "$demo" "$work" >"$work/demo.out" 2>&1 &
pid=$!

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
    tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}
windows() { xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null; }
one_window() { [ "$(windows | wc -l)" -ge 1 ]; }
box_shown() { [ "$(windows | wc -l)" -ge 2 ]; }
fail() {
    echo "FAIL: $1"
    echo "--- demo output"; cat "$work/demo.out"
    echo "--- simulator log (last lines)"; tail -n 8 "$work/sim.log" 2>/dev/null
    exit 1
}

wait_for 20 one_window || fail "no window with the caption \"$caption\""
window=$(windows | head -n 1)
[ -L "$work/com1" ] || fail "no com1 link beside the program"
grep -q '^0' "$work/quobin.ini" || fail "the demo wrote no settings file"

started=$(date +%s%N)
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key --window "$window" alt+w
wait_for 60 box_shown || fail "no message box after Upload"
elapsed=$((($(date +%s%N) - started) / 1000000))
lines=$(grep -c '^:' "$work/demo-firmware.hex")
echo "Upload of $lines lines to the simulated controller: box after $elapsed ms (including the 2 s reset delay)"
grep -q -- '-> @' "$work/sim.log" || fail "the simulator did not answer the end-of-file record with @"

# Close the box (Return takes its OK button), then exit the program.
box=$(windows | grep -v "^$window\$" | head -n 1)
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key --window "$box" Return
wait_for 5 sh -c "[ \"\$(xdotool search --onlyvisible --name '^$caption\$' | wc -l)\" -eq 1 ]" || fail "the box did not close on Return"
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key --window "$window" alt+x
wait_for 10 sh -c "! kill -0 $pid 2>/dev/null" || fail "the demo did not end on Alt+X"
wait "$pid" || fail "the demo ended with status $?"
pid=
[ -e "$work/com1" ] && fail "the com1 link was left behind"
pgrep -f "$work/vantor-sim" >/dev/null && fail "the simulator is still running"
echo "PASS"
