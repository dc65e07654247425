#!/bin/sh
# The window test's 32 slots named by their USB sockets, on a 1920x1080
# virtual screen (a panel's height left free): waiting, flashing at their own
# percents, failed, passed and adapterless tiles, as the test's fakes play
# them. The test checks the layout as it does offscreen and grabs the screen
# for the README's picture (docs/station-32.png); a few seconds.
# Usage: station32_shot_under_xvfb.sh <tst_station_window> <screenshot.png>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
QUOBIN_XVFB_SCREEN=1920x1080x24
under_xvfb 60 "$0" "$@"

test=$1
shot=$2
rm -f "$shot"
QT_QPA_PLATFORM=xcb QUOBIN_STATION_SHOT="$shot" "$test" "manySlotsCanBeReadFromAfar:32 slots on 1920x1080" \
    || fail "the 32-slot layout on the 1920x1080 screen"
[ -s "$shot" ] || fail "no screenshot"
echo "PASS"
