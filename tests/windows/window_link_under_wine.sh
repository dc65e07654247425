#!/usr/bin/env bash
# quobin.exe under Wine on a virtual X server, its "Com 3" linked to a serial
# server: quobin-cli.exe link 3 rfc2217://127.0.0.1:PORT beside the portable
# program, then the window's "Wait for Controller Then Upload" on Com 3 sends
# the image through Debian's ser2net to the Linux simulator, byte for byte.
#   window_link_under_wine.sh EXE_DIR VANTOR_SIM
set -uo pipefail
QUOBIN_EXE_DIR=$1
QUOBIN_SIM=$2
if [ -z "${QUOBIN_UNDER_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "FAIL: xvfb-run is missing: install xvfb and xauth"; exit 1; }
    QUOBIN_UNDER_XVFB=1 exec timeout 400 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
source "$(dirname "$0")/wine_lib.sh"
wine_setup
command -v xdotool >/dev/null || fail "xdotool is missing: install xdotool"

caption="Kelsar Vantor Quobin - V"
# windows_shown N: exactly N windows (the main window and its boxes, which
# carry its caption) are on the screen.
windows_shown() {
    [ "$(xdotool search --onlyvisible --name "^$caption" 2>/dev/null | wc -l)" -eq "$1" ]
}

portable="$work/portable"
mkdir -p "$portable"
cp "$QUOBIN_EXE_DIR/quobin.exe" "$QUOBIN_EXE_DIR/quobin-cli.exe" "$portable/"
"$QUOBIN_SIM" --write-sample "$work/fw.hex" --records 40 >/dev/null || fail "no sample firmware"

echo "== Com 3 linked to ser2net in front of the simulator"
start_serial_server bench --version 1.28 --caret-delay 1500 --record-dir "$work/boards"
status=0
timeout 120 wine "$portable/quobin-cli.exe" link 3 "rfc2217://127.0.0.1:$server_port" \
    >"$work/out" 2>"$work/err" </dev/null || status=$?
expect_status 0 "link 3"

echo "== the window's upload on Com 3 goes through the server"
# Com 3 chosen, the image named: the window starts ready to upload.
printf '2\r\n5\r\n"%s"\r\n' "$(win_path "$work/fw.hex")" >"$portable/quobin.ini"
wine "$portable/quobin.exe" >"$work/window.out" 2>&1 &
program=$!
sims+=("$program")
wait_for 60 xdotool search --onlyvisible --name "^$caption" >/dev/null \
    || fail "quobin.exe showed no window: $(cat "$work/window.out")"
window=$(xdotool search --onlyvisible --name "^$caption" | head -n 1)
sleep 2
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key alt+w
wait_for 90 windows_shown 2 \
    || fail "no box after the upload: $(tail -n 5 "$work/bench.log"; cat "$work/bench.ser2net")"
grep -q -- '-> @' "$work/bench.log" || fail "the controller did not confirm the image with @: $(tail -n 5 "$work/bench.log")"
# The simulator rewrites a board's image as its lines arrive: the last write
# may come a moment after the box.
wait_for 10 cmp -s <(crlf_lines "$work/fw.hex") "$work/boards/board-1.hex"
cmp <(crlf_lines "$work/fw.hex") "$work/boards/board-1.hex" || fail "the controller's image differs from the file"
sleep 1
xdotool key Return
wait_for 20 windows_shown 1 || fail "the box did not close on Enter"
wine taskkill /im quobin.exe >/dev/null 2>&1
wait_for 20 bash -c "! kill -0 $program 2>/dev/null" || fail "quobin.exe did not end when its window was closed"
wait "$program" 2>/dev/null
echo "PASS"
