#!/bin/sh
# Starts the real program on a virtual X server, checks that it shows its
# window with the given caption and the fixed client size, then presses
# Alt+X (Exit) and checks that it ends and has written its settings file.
# Usage: quobin_under_xvfb.sh <quobin binary> <caption>
set -u

if [ -z "${QUOBIN_UNDER_XVFB:-}" ]; then
    QUOBIN_UNDER_XVFB=1 exec timeout 50 xvfb-run -a -s "-screen 0 800x600x24" sh "$0" "$@"
fi

binary=$1
caption=$2
work=$(mktemp -d)
pid=
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

# Run a copy in a folder of its own: the settings file lands beside it.
cp "$binary" "$work/quobin"
printf '2\r\n3\r\n"/fw/main.hex"\r\n' > "$work/quobin.ini"
unset QT_QPA_PLATFORM
"$work/quobin" &
pid=$!

window=
i=0
while [ $i -lt 100 ]; do
    window=$(xdotool search --name "^$caption\$" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
    i=$((i + 1))
done
if [ -z "$window" ]; then
    echo "FAIL: no window with the caption \"$caption\""
    xwininfo -root -tree | grep -v '(has no name)'
    exit 1
fi
echo "window $window: \"$caption\""

geometry=$(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w "x" h}')
echo "client size $geometry"
if [ "$geometry" != "445x270" ]; then
    echo "FAIL: client size $geometry, expected 445x270"
    exit 1
fi

# Exit by its access key; the program ends and rewrites its settings.
rm -f "$work/quobin.ini"
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key --window "$window" alt+x
i=0
while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
    sleep 0.1
    i=$((i + 1))
done
if kill -0 "$pid" 2>/dev/null; then
    echo "FAIL: the program did not end on Alt+X"
    exit 1
fi
wait "$pid"
pid=
if [ "$(od -An -c "$work/quobin.ini" | tr -s ' ')" != "$(printf '2\r\n3\r\n"/fw/main.hex"\r\n' | od -An -c | tr -s ' ')" ]; then
    echo "FAIL: settings file not rewritten at exit"
    exit 1
fi
echo "PASS"
