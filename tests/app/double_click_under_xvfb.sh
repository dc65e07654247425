#!/bin/sh
# A double-click on "&Wait for Controller Then Upload", as a mouse on a real
# X server gives it: the program starts one upload and leaves it running, so
# that the simulated controller, reset a moment later, gets its firmware and
# the success box appears. The second click must not press Cancel.
# Usage: double_click_under_xvfb.sh <quobin> <vantor-sim> <caption>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 50 "$0" "$@"

quobin=$1
simulator=$2
caption=$3

sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; finish' EXIT
fail() {
    echo "FAIL: $1"
    echo "--- simulator log"; cat "$work/sim.log" 2>/dev/null
    exit 1
}

cp "$quobin" "$work/quobin"
"$simulator" --write-sample "$work/fw.hex" --records 5 >/dev/null || fail "no sample image"
# The controller is reset 1.5 s after the main-code command: by then a
# cancelled upload would have closed the port again.
"$simulator" --link "$work/com1" --version 1.28 --caret-delay 1500 --verbose \
    >"$work/sim.out" 2>"$work/sim.log" &
sim=$!
wait_for 5 test -L "$work/com1" || fail "the simulator made no com1 link"
printf '0\r\n5\r\n"%s"\r\n' "$work/fw.hex" > "$work/quobin.ini"
"$work/quobin" &
pid=$!

wait_for 10 shown "$caption" || fail "no window with the caption \"$caption\""
window=$(windows_named "$caption" | head -n 1)
# The centre of the upload button, in pixels of the client area (its place
# in twips: frame at 120,840; button at 1680,960, 2895 by 495).
xdotool mousemove --window "$window" 216 136 || fail "cannot move the mouse"
sleep 0.3
xdotool click --repeat 2 --delay 120 1

wait_for 15 shown "$caption" 2 || fail "no box after the double-click: the upload was cancelled"
grep -q -- '-> @' "$work/sim.log" || fail "the controller did not confirm the image with @"
box=$(windows_named "$caption" | grep -v "^$window\$" | head -n 1)
press "$box" Return
wait_for 5 sh -c "[ \"\$(xdotool search --onlyvisible --name '^$caption\$' | wc -l)\" -eq 1 ]" || fail "the box did not close on Return"
press "$window" alt+x
program_ends 10 || fail "the program did not end well on Alt+X"
echo "PASS"
