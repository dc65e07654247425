#!/usr/bin/env bash
# quobin-cli.exe under Wine against the Linux simulator on Wine's COM ports:
# an upload byte for byte with a resend, the line settings the simulator saw,
# Ctrl-C and a vanished device mid-transfer, a gang of 3, a station of 2
# slots, its records read back, a postgresql:// target whose record waits in
# the spool, and COM10 and beyond named as the window, the COM name or the
# device path does; a log or firmware file that names a device refused; "Com
# 4" linked to a serial server (ser2net in front of the simulator) for upload
# and station, listed by ports, removed, and a link to anything else refused.
#   cli_under_wine.sh EXE_DIR VANTOR_SIM
set -uo pipefail
QUOBIN_EXE_DIR=$1
QUOBIN_SIM=$2
source "$(dirname "$0")/wine_lib.sh"
wine_setup

firmware="$work/firmware.hex"
"$QUOBIN_SIM" --write-sample "$firmware" --records 400 >/dev/null || fail "no sample firmware"
fw=$(win_path "$firmware")

echo "== upload to COM3: byte for byte, line 3 resent after a checksum error"
start_sim 3 --version 1.28 --fault checksum-once:3 --record-dir "$work/rec3" --line-counts "$work/counts3" \
    --exit-after-upload
cli upload --port 3 --json "$fw"
expect_status 0 "upload to COM3"
grep -q '"result":"success"' "$work/out" || fail "no success in: $(cat "$work/out")"
wait "$sim_pid"
cmp <(crlf_lines "$firmware") "$work/rec3/board-1.hex" || fail "the board's flash differs from the file"
awk -F'\t' 'NR == 3 && $1 == 2 { found = 1 } END { exit !found }' "$work/counts3" \
    || fail "line 3 was not sent twice: $(head -4 "$work/counts3")"

echo "== the line settings the simulator saw"
# Every chunk is logged as "<- TEXT [BAUD IXON IXOFF]": the main-code command
# at 9600 without flow control, the bootloader's lines at 57600 with XON/XOFF
# both ways, and never IXANY (only XON resumes output).
grep -F '<- ' "$work/sim3.log" >"$work/chunks3"
grep -F '4*730562' "$work/chunks3" | grep -qvE '\[9600\]$' \
    && fail "main-code command not at 9600 without flow control: $(grep -F '4*730562' "$work/chunks3")"
grep -qF '4*730562' "$work/chunks3" || fail "the simulator never saw the main-code command"
grep -F ':' "$work/chunks3" | grep -vF '4*730562' | grep -qvE '\[57600 IXON IXOFF\]$' \
    && fail "a line not at 57600 with XON/XOFF: $(grep -F ':' "$work/chunks3" | grep -vE '\[57600 IXON IXOFF\]$' | head -3)"
grep -q 'IXANY' "$work/chunks3" && fail "IXANY was set"

echo "== Ctrl-C mid-transfer: exit 130"
start_sim 3 --version 1.28 --pace
timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" upload --port 3 --json "$fw" >"$work/out" 2>"$work/err" </dev/null &
upload=$!
wait_for 60 grep -q '"lines"\|progress\|sent' "$work/out" || wait_for 30 grep -qF ':10' "$work/sim3.log"
sleep 1
kill -INT "$upload"
status=0
wait "$upload" || status=$?
expect_status 130 "Ctrl-C mid-transfer"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null

echo "== the simulator killed mid-transfer: exit 1 within 5 s"
start_sim 3 --version 1.28 --pace
timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" upload --port 3 "$fw" >"$work/out" 2>"$work/err" </dev/null &
upload=$!
wait_for 60 grep -qF ':10' "$work/sim3.log" || fail "the upload never started: $(cat "$work/err")"
sleep 1
kill -9 "$sim_pid"
killed_at=$SECONDS
status=0
wait "$upload" || status=$?
took=$((SECONDS - killed_at))
expect_status 1 "simulator killed"
[ "$took" -le 5 ] || fail "the upload took $took s to end after the device went"
[ -s "$work/out" ] || [ -s "$work/err" ] || fail "no reason given"
echo "ended $took s after the device went: $(cat "$work/err")"

echo "== a gang of 3: COM3, COM4, COM5"
gang=()
for n in 3 4 5; do
    start_sim "$n" --version 1.28 --record-dir "$work/gang$n" --exit-after-upload
    gang+=("$sim_pid")
done
cli upload --port 3 --port 4 --port 5 --json "$fw"
expect_status 0 "gang of 3"
[ "$(grep -c '"result":"success"' "$work/out")" -eq 3 ] || fail "not 3 successes: $(grep result "$work/out")"
# Each simulator writes down its board as it exits after the upload.
wait "${gang[@]}"
for n in 3 4 5; do
    cmp <(crlf_lines "$firmware") "$work/gang$n/board-1.hex" || fail "COM$n's flash differs from the file"
done

echo "== a station: 2 slots x 3 boards, records in SQLite, read back"
for n in 6 7; do
    start_sim "$n" --version 1.28 --fixture 600 --boards 3
done
db="$work/records with space ü.sqlite"
cli station --slot 6 --slot 7 --count 6 --records "$(win_path "$db")" --station bench-1 "$fw"
expect_status 0 "station of 2 slots"
[ -s "$db" ] || fail "no records database at $db"
cli records --records "$(win_path "$db")" --json
expect_status 0 "records --json"
passed=$(grep -o '"result":"success"' "$work/out" | wc -l)
[ "$passed" -eq 6 ] || fail "6 passed boards expected in the records, found $passed: $(head -c 600 "$work/out")"

echo "== records by default under %LOCALAPPDATA%\\Quobin"
# Reading makes no file; a station run without --records makes it there.
cli records --json
expect_status 0 "records with no default file yet"
[ ! -e "$localappdata/Quobin/records.sqlite" ] || fail "records made $localappdata/Quobin/records.sqlite"
start_sim 8 --version 1.28 --fixture 600 --boards 1
cli station --slot 8 --count 1 "$fw"
expect_status 0 "station into the default file"
[ -s "$localappdata/Quobin/records.sqlite" ] || fail "no $localappdata/Quobin/records.sqlite"
cli records --json
expect_status 0 "records in the default file"
grep -q '"result":"success"' "$work/out" || fail "the default file holds no success: $(head -c 600 "$work/out")"

echo "== a postgresql:// target that does not answer: the board is flashed, its record waits in the spool"
# (tests/windows/postgres_under_wine.sh runs the Windows programs against a
# real server.)
start_sim 3 --version 1.28 --fixture 600 --boards 1 --record-dir "$work/pg"
cli station --slot 3 --count 1 --records 'postgresql://quobin@127.0.0.1:1/records?connect_timeout=2' "$fw"
expect_status 0 "station with a server that does not answer"
grep -q "^1 records waiting for the server: .*127.0.0.1:1" "$work/out" || fail "no record waits: $(cat "$work/out")"
flashed_whole() {
    cmp -s <(crlf_lines "$firmware") "$work/pg/board-1.hex"
}
wait_for 10 flashed_whole || fail "the board's flash differs from the file"

echo "== COM10 and beyond: by number, by COM name and by device path, as the port layer finds them"
# A file of the port's name in the working folder must not count as the port.
mkdir -p "$work/cwd" && : >"$work/cwd/COM11"
cli_in_cwd() {
    status=0
    (cd "$work/cwd" && exec timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" "$@" >"$work/out" 2>"$work/err" </dev/null) \
        || status=$?
}
for name in 10 COM10 '\\.\COM10'; do
    start_sim 10 --version 1.28 --record-dir "$work/com10" --exit-after-upload
    cli_in_cwd upload --port "$name" --json "$fw"
    expect_status 0 "upload --port $name"
    wait "$sim_pid"
    cmp <(crlf_lines "$firmware") "$work/com10/board-1.hex" || fail "--port $name: the board's flash differs"
    rm -rf "$work/com10"
done
start_sim 10 --version 1.28 --fixture 600 --boards 1
cli station --slot '\\.\COM10' --count 1 --records "$(win_path "$work/com10.sqlite")" "$fw"
expect_status 0 "station --slot \\.\COM10"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
start_sim 10 --version 1.28
cli upload --port 10 --port '\\.\COM10' "$fw"
expect_status 2 "one port given as 10 and as \\.\COM10"
grep -q "given twice" "$work/err" || fail "the same port twice not told: $(cat "$work/err")"
kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
cli_in_cwd upload --port 11 "$fw"
expect_status 2 "--port 11 with no COM11"
grep -q "COM11 does not exist" "$work/err" || fail "a missing COM11 not told: $(cat "$work/err")"

echo "== a log or firmware file that names a device is refused before any port opens"
start_sim 3 --version 1.28
start_sim 1 --version 1.28
for log in COM3 com1.log 'COM3:' nul 'Aux .txt' "$(win_path "$work")\\Con.log" '\\.\COM3' '\\?\COM1' LPT1; do
    cli upload --port 3 --log "$log" "$fw"
    expect_status 2 "--log $log"
    grep -q "the log .* names the Windows device .*, not a file" "$work/err" \
        || fail "--log $log: not told why: $(cat "$work/err")"
done
cli upload --port 3 COM1
expect_status 2 "firmware file COM1"
grep -q "COM1 names the Windows device COM1, not a firmware file" "$work/err" || fail "firmware COM1: $(cat "$work/err")"
sleep 0.5
for n in 1 3; do
    ! grep -qF '<- ' "$work/sim$n.log" || fail "COM$n heard something: $(grep -F '<- ' "$work/sim$n.log" | head -3)"
done

echo "== the help names Windows' folders and ports, not Linux's"
for command in records station; do
    cli "$command" --help
    expect_status 0 "$command --help"
    grep -nE 'XDG|~/|/dev/|\{[a-z-]+\}' "$work/out" && fail "$command --help names Linux's folders or a placeholder"
    grep -qF '%LOCALAPPDATA%\Quobin\records.sqlite' "$work/out" \
        || fail "$command --help does not name the default records file: $(cat "$work/out")"
done
grep -qF '\\.\COM10' "$work/out" || fail "station --help names no Windows device path: $(cat "$work/out")"

echo "== records of a job whose only board was cancelled: no yield yet"
start_sim 9 --version 1.28 --fixture 600 --boards 1 --pace
timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" station --slot 9 --records "$(win_path "$work/cancelled.sqlite")" "$fw" \
    >"$work/out" 2>"$work/err" </dev/null &
station=$!
wait_for 60 grep -qF ':10' "$work/sim9.log" || fail "the station never started flashing: $(cat "$work/err")"
kill -INT "$station"
status=0
wait "$station" || status=$?
expect_status 130 "station cancelled"
cli records --records "$(win_path "$work/cancelled.sqlite")"
expect_status 0 "records of the cancelled job"
tr -d '\r' <"$work/out" | grep -q '0 boards, 0 passed, 0 failed, 1 cancelled, no first-pass yield yet$' \
    || fail "records of a cancelled board: $(cat "$work/out")"

echo "== ports lists the COM ports"
cli ports
expect_status 0 "ports"
grep -q '^COM3' "$work/out" || fail "COM3 not listed: $(cat "$work/out")"
# Wine has no USB: no port is in a socket, and ports says so.
grep -q 'socket' "$work/out" && fail "a socket for Wine's ports: $(cat "$work/out")"
cli ports --json
expect_status 0 "ports --json"
grep -qF '"socket":null' "$work/out" || fail "ports --json does not say there is no socket: $(cat "$work/out")"
grep -qF '"socket":"' "$work/out" && fail "ports --json gives a socket on Wine: $(cat "$work/out")"

echo "== Com 4 linked to a serial server: ser2net on 127.0.0.1 in front of the simulator"
# A portable copy of its own: its links go beside it, in quobin-links.txt.
linked="$work/linked ü"
mkdir -p "$linked"
cp "$QUOBIN_EXE_DIR/quobin-cli.exe" "$linked/"
links="$linked/quobin-links.txt"
linked_cli() {
    status=0
    timeout 120 wine "$linked/quobin-cli.exe" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
}
start_serial_server net-upload --version 1.28 --record-dir "$work/net-upload" --exit-after-upload
linked_cli link 4 "rfc2217://127.0.0.1:$server_port"
expect_status 0 "link 4 rfc2217://127.0.0.1:$server_port"
grep -q "a serial server on the network" "$work/out" || fail "link did not show the server: $(cat "$work/out")"
grep -qxF "com4=rfc2217://127.0.0.1:$server_port"$'\r' "$links" || fail "no link in $links: $(cat "$links" 2>&1)"
# No file that Windows would take for a device (com4, COM4.txt).
ls "$linked" | grep -iE '^(com|lpt)[0-9]|^(con|nul|aux|prn)(\.|$)' && fail "link made a file of a device's name"
linked_cli upload --port 4 --json "$fw"
expect_status 0 "upload --port 4 through the serial server"
grep -q '"result":"success"' "$work/out" || fail "no success in: $(cat "$work/out")"
wait "$sim_pid"
cmp <(crlf_lines "$firmware") "$work/net-upload/board-1.hex" || fail "through the server: the board's flash differs"
kill "$server_pid"; wait "$server_pid" 2>/dev/null

echo "== station --slot 4 through the link, replaced by one to another server"
start_serial_server net-station --version 1.28 --fixture 600 --boards 1 --record-dir "$work/net-station"
linked_cli link com4 "rfc2217://127.0.0.1:$server_port"
expect_status 0 "link com4 replaced"
[ "$(grep -c '^com4=' "$links")" -eq 1 ] && grep -qF "com4=rfc2217://127.0.0.1:$server_port" "$links" \
    || fail "the link was not replaced: $(cat "$links")"
linked_cli station --slot 4 --count 1 --records "$(win_path "$work/net.sqlite")" "$fw"
expect_status 0 "station --slot 4 through the serial server"
wait_for 10 cmp -s <(crlf_lines "$firmware") "$work/net-station/board-1.hex"
cmp <(crlf_lines "$firmware") "$work/net-station/board-1.hex" || fail "station through the server: the flash differs"

echo "== ports lists the link; a damaged line is shown and ignored"
start_sim 4 --version 1.28 --record-dir "$work/local4" --exit-after-upload
printf 'garbage \001\377\r\n' >>"$links"
linked_cli ports
expect_status 0 "ports with a link"
grep -qF "Com 4  rfc2217://127.0.0.1:$server_port  (link com4 in $(win_path "$links"))" "$work/out" \
    || fail "ports does not list the link: $(cat "$work/out")"
grep -q '^COM4 *- ' "$work/out" || fail "ports still shows COM4 as Com 4: $(cat "$work/out")"
grep -qF "line 4 is no link to a serial server and is ignored" "$work/out" || fail "the damaged line not shown: $(cat "$work/out")"
grep -qF "new links are made in $(win_path "$links")" "$work/out" || fail "ports does not say where links go: $(cat "$work/out")"
linked_cli ports --json
expect_status 0 "ports --json with a link"
grep -qF '"links":[{"device":"rfc2217://127.0.0.1:'"$server_port"'","link":' "$work/out" \
    || fail "ports --json does not list the link: $(cat "$work/out")"
grep -qF '"number":4,"port":"Com 4"' "$work/out" || fail "ports --json: no Com 4 link: $(cat "$work/out")"
grep -qE '"inWindow":false,[^}]*"number":4,"port":"COM4"' "$work/out" \
    || fail "ports --json still gives COM4 to the window: $(cat "$work/out")"

echo "== link 4 --remove: --port 4 is the local COM4 again"
linked_cli link 4 --remove
expect_status 0 "link 4 --remove"
grep -q '^com4=' "$links" && fail "the link is still there: $(cat "$links")"
grep -q 'garbage' "$links" || fail "the removal lost another line: $(cat "$links")"
grep -qF 'Com 4  COM4  (default)' "$work/out" || fail "remove did not show Com 4 as COM4: $(cat "$work/out")"
linked_cli upload --port 4 --json "$fw"
expect_status 0 "upload --port 4 after the link went"
wait "$sim_pid"
cmp <(crlf_lines "$firmware") "$work/local4/board-1.hex" || fail "the local COM4's flash differs"
linked_cli link 4 --remove
expect_status 0 "link 4 --remove again"
grep -q "was not linked" "$work/out" || fail "a second removal not told: $(cat "$work/out")"

echo "== a link to anything but a serial server is refused"
cp "$links" "$work/links.before"
for target in COM5 /dev/ttyUSB0 '\\.\COM5'; do
    linked_cli link 5 "$target"
    expect_status 2 "link 5 $target"
    grep -q "A local COM port needs no link" "$work/err" || fail "link 5 $target: not told why: $(cat "$work/err")"
done
linked_cli link 5 rfc2217://127.0.0.1
expect_status 2 "link 5 to an address without a port"
cmp "$work/links.before" "$links" || fail "a refused link changed $links"

echo "== an approved job in SQLite: approved by the Windows user, flashed from the database alone"
jobs_db="$work/jobs ü.sqlite"
cp "$firmware" "$work/approved.hex"
cli job approve pump "$(win_path "$work/approved.hex")" --records "$(win_path "$jobs_db")"
expect_status 0 "job approve"
rm "$work/approved.hex"
cli job show pump --records "$(win_path "$jobs_db")" --json
expect_status 0 "job show"
grep -qF "\"approvedBy\":\"$(id -un)\"" "$work/out" || fail "not approved by $(id -un): $(cat "$work/out")"
start_sim 7 --version 1.28 --fixture 600 --boards 1 --record-dir "$work/job7"
cli station --slot 7 --count 1 --records "$(win_path "$jobs_db")" --job pump
expect_status 0 "station --job pump"
wait_for 10 cmp -s <(crlf_lines "$firmware") "$work/job7/board-1.hex"
cmp <(crlf_lines "$firmware") "$work/job7/board-1.hex" || fail "the job's board differs from the approved image"
cli records --records "$(win_path "$jobs_db")" --json
grep -q '"job":"pump"' "$work/out" && grep -q '"jobVersion":1' "$work/out" \
    || fail "the record does not name the job: $(head -c 600 "$work/out")"

echo "== board IDs on standard input: one that fails the rule refused, the next flashed and recorded"
cli job approve tagged "$fw" --board-id '^QB[0-9]{4}$' --records "$(win_path "$jobs_db")"
expect_status 0 "job approve --board-id"
start_sim 7 --version 1.28 --fixture 600 --boards 1 --record-dir "$work/tagged7"
status=0
printf 'QB12\r\nQB0001\r\n' | timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" station --slot 7 --json \
    --records "$(win_path "$jobs_db")" --job tagged >"$work/out" 2>"$work/err" || status=$?
expect_status 0 "station --job tagged, IDs on stdin"
grep -q '"event":"board-id-refused"' "$work/out" && grep -q "does not match the job's rule" "$work/out" \
    || fail "QB12 was not refused: $(head -c 900 "$work/out")"
wait_for 10 cmp -s <(crlf_lines "$firmware") "$work/tagged7/board-1.hex"
cmp <(crlf_lines "$firmware") "$work/tagged7/board-1.hex" || fail "the tagged board differs from the approved image"
cli records --records "$(win_path "$jobs_db")" --board QB0001 --json
expect_status 0 "records --board QB0001"
grep -q '"boardId":"QB0001"' "$work/out" && grep -q '"result":"success"' "$work/out" \
    || fail "records --board QB0001: $(head -c 600 "$work/out")"

echo "== installed, link keeps its links in %APPDATA%\\Quobin"
installed="$work/installed"
mkdir -p "$installed"
cp "$QUOBIN_EXE_DIR/quobin-cli.exe" "$installed/"
: >"$installed/installed.txt"
status=0
timeout 120 wine "$installed/quobin-cli.exe" link 6 rfc2217://127.0.0.1:2006 >"$work/out" 2>"$work/err" </dev/null || status=$?
expect_status 0 "installed: link 6"
grep -qxF "com6=rfc2217://127.0.0.1:2006"$'\r' "$appdata/Quobin/quobin-links.txt" \
    || fail "no link in %APPDATA%\\Quobin: $(ls "$appdata/Quobin" 2>&1)"
[ ! -e "$installed/quobin-links.txt" ] || fail "the installed copy wrote a link beside itself"

echo "PASS"
