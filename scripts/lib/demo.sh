#!/usr/bin/env bash
# The demo without hardware: the simulated controller on a pseudo-terminal
# linked as Com 1 beside the program, a sample firmware image, and the
# program set up to send that image to Com 1. Press "Upload" (Alt+W) and, when
# asked, nothing else: the simulated controller "resets" itself two seconds
# after the program's command, as if the operator had pressed reset.
#
# Usage: demo.sh BIN_DIR   (BIN_DIR holds quobin and vantor-sim)
# QUOBIN_DEMO_SIM_LOG=FILE writes the simulator's traffic log to FILE.
set -euo pipefail

bin=$(cd "$1" && pwd)
image="$bin/demo-firmware.hex"
settings="$bin/quobin.ini"
backup="$bin/quobin.ini.before-demo"

"$bin/vantor-sim" --write-sample "$image" --records 3000
echo "Sample firmware: $image ($(wc -l <"$image") lines)"

sim_pid=
restore=0
finish() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$bin/com1"
    if [ "$restore" -eq 1 ]; then
        mv -f "$backup" "$settings"
        echo "Your own settings file is back in place: $settings"
    fi
}
trap finish EXIT
trap 'exit 130' INT TERM

if [ -e "$settings" ]; then
    cp -p "$settings" "$backup"
    restore=1
    echo "Kept your settings file as $backup for the demo; it is put back when the demo ends."
fi
# Com 1 (first position of the port list), the hidden second list at its
# default position, and the sample image.
printf '0\r\n5\r\n"%s"\r\n' "$image" >"$settings"

sim_args=(--link "$bin/com1" --caret-delay 2000 --version 1.28)
if [ -n "${QUOBIN_DEMO_SIM_LOG:-}" ]; then
    "$bin/vantor-sim" "${sim_args[@]}" --verbose 2>"$QUOBIN_DEMO_SIM_LOG" &
else
    "$bin/vantor-sim" "${sim_args[@]}" &
fi
sim_pid=$!
for _ in $(seq 50); do
    [ -L "$bin/com1" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "The simulator did not start." >&2; exit 1; }
    sleep 0.1
done
[ -L "$bin/com1" ] || { echo "The simulator made no link $bin/com1." >&2; exit 1; }
echo "Simulated controller on Com 1 ($bin/com1 -> $(readlink "$bin/com1"))."
echo "Press Upload (Alt+W); the controller resets itself 2 s after the program's command."

status=0
"$bin/quobin" || status=$?
exit "$status"
