#!/bin/sh
# "Com 3" linked to a serial server: quobin-cli link 3 rfc2217://127.0.0.1:PORT,
# then the real program's "Wait for Controller Then Upload" on Com 3 sends the
# image through Debian's ser2net to the simulated controller, byte for byte.
# ser2net runs as an ordinary user (nobody when the test runs as root).
# Usage: com3_on_rfc2217_under_xvfb.sh <quobin> <quobin-cli> <vantor-sim> <caption>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 50 "$0" "$@"

quobin=$1
cli=$2
simulator=$3
caption=$4

sim=
server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; [ -n "$sim" ] && kill "$sim" 2>/dev/null; finish' EXIT
fail() {
    echo "FAIL: $1"
    echo "--- simulator log"; tail -n 20 "$work/sim.log" 2>/dev/null
    echo "--- ser2net"; cat "$work/ser2net.out" 2>/dev/null
    exit 1
}

ser2net=$(command -v ser2net || ls /usr/sbin/ser2net 2>/dev/null) || fail "ser2net is not installed: apt-get install ser2net"
as_user=
if [ "$(id -u)" -eq 0 ]; then
    as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi

chmod 755 "$work"
cp "$quobin" "$work/quobin"
cp "$cli" "$work/quobin-cli"
"$simulator" --write-sample "$work/fw.hex" --records 40 >/dev/null || fail "no sample image"
"$simulator" --link "$work/controller" --version 1.28 --caret-delay 1500 --record-dir "$work/boards" --verbose \
    >"$work/sim.out" 2>"$work/sim.log" &
sim=$!
wait_for 5 test -L "$work/controller" || fail "the simulator made no link"
device=$(readlink -f "$work/controller")
chmod 666 "$device"

# A free port: ser2net says when the one tried is taken.
for try in 1 2 3 4 5; do
    port=$((20000 + ($$ * 7 + try * 977) % 40000))
    cat > "$work/ser2net.yaml" <<YAML
connection: &bench
  accepter: telnet(rfc2217),tcp,127.0.0.1,$port
  connector: serialdev,$device,9600n81,local
  options:
    chardelay: false
YAML
    chmod 644 "$work/ser2net.yaml"
    $as_user "$ser2net" -n -u -c "$work/ser2net.yaml" >"$work/ser2net.out" 2>&1 &
    server=$!
    sleep 0.5
    if kill -0 "$server" 2>/dev/null && ! grep -qi "in use" "$work/ser2net.out"; then
        break
    fi
    kill "$server" 2>/dev/null
    server=
done
[ -n "$server" ] || fail "ser2net would not listen on a port"

"$work/quobin-cli" link 3 "rfc2217://127.0.0.1:$port" >"$work/link.out" 2>&1 || fail "link: $(cat "$work/link.out")"
grep -q "a serial server on the network" "$work/link.out" || fail "link did not show the server: $(cat "$work/link.out")"
[ "$(readlink "$work/com3")" = "rfc2217://127.0.0.1:$port" ] || fail "com3 does not hold the address"

# Com 3 chosen, the image named: the window starts ready to upload.
printf '2\r\n5\r\n"%s"\r\n' "$work/fw.hex" > "$work/quobin.ini"
"$work/quobin" &
pid=$!
wait_for 10 shown "$caption" || fail "no window with the caption \"$caption\""
window=$(windows_named "$caption" | head -n 1)
press "$window" alt+w

wait_for 20 shown "$caption" 2 || fail "no box after the upload"
grep -q -- '-> @' "$work/sim.log" || fail "the controller did not confirm the image with @"
wait_for 5 test -f "$work/boards/board-1.hex" || fail "the simulator kept no image"
# The simulator rewrites a board's image as its lines arrive: the last write
# may come a moment after the box.
wait_for 5 cmp -s "$work/fw.hex" "$work/boards/board-1.hex"
cmp "$work/fw.hex" "$work/boards/board-1.hex" || fail "the controller's image differs from the file"
box=$(windows_named "$caption" | grep -v "^$window\$" | head -n 1)
press "$box" Return
press "$window" alt+x
program_ends 10 || fail "the program did not end well on Alt+X"
echo "PASS"
