#!/bin/sh
# The real quobin-station on a virtual X server, its set-up driven as a
# screen reader drives it through AT-SPI: each slot is a box whose action
# ticks it, whose state is heard as ticked, and which announces the change.
# What was ticked that way is what the set-up file keeps at closing.
# Usage: setup_under_xvfb.sh <quobin-station> <vantor-sim> <tick_slots.py>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 60 "$0" "$@"

station=$1
sim=$2
ticker=$3
sims=
trap 'for s in $sims; do kill "$s" 2>/dev/null; done; finish' EXIT

fixture() { # fixture LINK: a controller behind the link, so that the slot is found
    "$sim" --link "$1" --no-caret >/dev/null 2>&1 &
    sims="$sims $!"
    wait_for 5 test -e "$1" || fail "the simulator for $1 did not start"
}

cp "$station" "$work/quobin-station"
fixture "$work/com1"
fixture "$work/com2"
cat > "$work/quobin-station.ini" <<INI
[slots]
ports=Com 1
[station]
sound=false
INI

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/quobin-station" &
pid=$!
wait_for 10 shown "Quobin Station" || fail "no station window"
window=$(windows_named "Quobin Station" | head -n 1)

# Com 2 is ticked, Com 1 unticked, each by its box's own action.
/usr/bin/python3 "$ticker" "Com 2" "Com 1" || fail "the slots cannot be ticked through AT-SPI"

press "$window" ctrl+q
program_ends 10 || fail "the window did not close"
grep -qx "ports=Com 2" "$work/quobin-station.ini" || { cat "$work/quobin-station.ini"; fail "the set-up did not keep the slot ticked through AT-SPI"; }
echo "PASS"
