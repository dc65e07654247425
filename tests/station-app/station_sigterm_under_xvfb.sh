#!/bin/sh
# The real quobin-station ended by SIGTERM, as a logout or a shutdown ends
# it, while one slot flashes a board at the wire's real pace and another
# waits for a board: it acts as Stop does, without asking (nobody is there to
# answer). The board in progress is cancelled at the engine's checkpoints and
# recorded, the waiting slot records nothing, and the program then exits on
# its own with status 0.
# Usage: station_sigterm_under_xvfb.sh <quobin-station> <vantor-sim> <quobin-cli>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 60 "$0" "$@"

station=$1
sim=$2
cli=$3
. "$(dirname "$0")/fixtures_lib.sh"

cp "$station" "$work/quobin-station"
"$sim" --write-sample "$work/job.hex" --records 3000 >/dev/null || fail "no sample image"
fixture "$work/com1" --fixture 600000 --boards 1 --pace --record-dir "$work/boards"
fixture "$work/com2" --no-caret
cat > "$work/quobin-station.ini" <<INI
[job]
file=$work/job.hex
[slots]
ports=Com 1, Com 2
[records]
target=$work/window.sqlite
[station]
name=bench-t
sound=false
INI

"$work/quobin-station" &
pid=$!
wait_for 10 shown "Quobin Station" || fail "no station window"
window=$(windows_named "Quobin Station" | head -n 1)
press "$window" alt+s
# The board on Com 1 has taken some of its lines.
wait_for 20 test -s "$work/boards/board-1.hex" || fail "Com 1 never started flashing"

kill -TERM "$pid"
program_ends 20 || fail "quobin-station did not end by itself after SIGTERM with status 0 (status $?)"

"$cli" records --records "$work/window.sqlite" --csv > "$work/window.csv" || fail "the records cannot be read"
/usr/bin/python3 - "$work/window.csv" <<'PY' || fail "the board in progress was not recorded as cancelled"
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1], newline="")))
print([(r["slot"], r["result"], r["lines_sent"]) for r in rows])
ok = len(rows) == 1 and rows[0]["slot"] == "Com 1" and rows[0]["result"] == "cancelled" \
    and 0 < int(rows[0]["lines_sent"]) < 3001
sys.exit(0 if ok else 1)
PY
echo "PASS"
