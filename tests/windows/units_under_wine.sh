#!/usr/bin/env bash
# The cross-compiled unit tests under Wine, offscreen, in one Wine prefix.
#   units_under_wine.sh EXE_DIR TEST...
set -uo pipefail
QUOBIN_EXE_DIR=$1
shift
source "$(dirname "$0")/wine_lib.sh"
wine_setup
failed=()
for unit in "$@"; do
    echo "== $unit.exe"
    # QtTest's own report goes to a file: under Wine a console program's
    # QtTest output does not reach a redirected stdout.
    QT_QPA_PLATFORM=offscreen timeout 300 wine "$QUOBIN_EXE_DIR/$unit.exe" -o "$(win_path "$work/$unit.txt"),txt" \
        </dev/null || failed+=("$unit")
    grep -E '^(FAIL|XPASS|Totals)|^   Loc:|^   Actual|^   Expected' "$work/$unit.txt" 2>/dev/null \
        || { echo "no report"; failed+=("$unit"); }
done
[ ${#failed[@]} -eq 0 ] || fail "under Wine: ${failed[*]}"
echo "PASS"
