#!/bin/sh
# Starts the real program on a virtual X server, checks that it shows its
# window with the given caption and the fixed client size, then presses
# Alt+X (Exit) and checks that it ends and has written its settings file.
# Usage: quobin_under_xvfb.sh <quobin binary> <caption>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 30 "$0" "$@"

binary=$1
caption=$2

# Run a copy in a folder of its own: the settings file lands beside it.
cp "$binary" "$work/quobin"
printf '2\r\n3\r\n"/fw/main.hex"\r\n' > "$work/quobin.ini"
"$work/quobin" &
pid=$!

if ! wait_for 10 shown "$caption"; then
    xwininfo -root -tree | grep -v '(has no name)'
    fail "no window with the caption \"$caption\""
fi
window=$(windows_named "$caption" | head -n 1)
echo "window $window: \"$caption\""

geometry=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
echo "client size $geometry"
[ "$geometry" = "445x270" ] || fail "client size $geometry, expected 445x270"

# Exit by its access key; the program ends and rewrites its settings.
rm -f "$work/quobin.ini"
press "$window" alt+x
program_ends 5 || fail "the program did not end well on Alt+X"
same_bytes "$work/quobin.ini" '2\r\n3\r\n"/fw/main.hex"\r\n' || fail "settings file not rewritten at exit"
echo "PASS"
