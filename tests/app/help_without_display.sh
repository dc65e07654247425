#!/bin/sh
# quobin -h and --help print the usage and end with 0 on a terminal without a
# display: no DISPLAY, no WAYLAND_DISPLAY and no QT_QPA_PLATFORM.
# Usage: help_without_display.sh <quobin>
set -u
program=$1
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for option in --help -h; do
    env -i PATH="$PATH" LANG=C.UTF-8 \
        ${ASAN_OPTIONS+"ASAN_OPTIONS=$ASAN_OPTIONS"} ${UBSAN_OPTIONS+"UBSAN_OPTIONS=$UBSAN_OPTIONS"} \
        ${LSAN_OPTIONS+"LSAN_OPTIONS=$LSAN_OPTIONS"} \
        timeout 10 "$program" "$option" >"$out" 2>"$err"
    status=$?
    [ "$status" -eq 0 ] || { cat "$err"; echo "FAIL: quobin $option ended with $status"; exit 1; }
    head -n 1 "$out" | grep -qx 'Usage: quobin \[-h | --help\]' || { cat "$out"; echo "FAIL: quobin $option printed no usage"; exit 1; }
    grep -q 'quobin-cli' "$out" || { cat "$out"; echo "FAIL: quobin $option does not point to quobin-cli"; exit 1; }
    [ -s "$err" ] && { cat "$err"; echo "FAIL: quobin $option wrote to stderr"; exit 1; }
    echo "quobin $option: usage, status 0"
done
echo PASS
