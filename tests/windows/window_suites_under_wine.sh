#!/usr/bin/env bash
# The window's own suites (states, boxes, start-up and shut-down), the
# end-to-end suite and the settings file's suite, cross-compiled from the
# same sources as on Linux and run under Wine, offscreen. The end-to-end
# suite uploads through Win32's COM1 to the Linux vantor-sim, which
# controller_host.py starts for each case (the suite finds the host through
# QUOBIN_CONTROLLER_HOST). The settings suite runs as an ordinary user,
# "nobody", in a Wine prefix of its own: root writes into any folder.
#   window_suites_under_wine.sh EXE_DIR VANTOR_SIM SUITE...
set -uo pipefail
QUOBIN_EXE_DIR=$1
QUOBIN_SIM=$2
shift 2
here=$(dirname "$0")
source "$here/wine_lib.sh"
[ -x "$QUOBIN_SIM" ] || fail "no Linux simulator at $QUOBIN_SIM: build it (cmake --build build --target vantor-sim)"
command -v python3 >/dev/null || fail "python3 is missing: the controller host needs it"
command -v setpriv >/dev/null || fail "setpriv is missing: install util-linux"
wine_setup
started=$SECONDS

# qt_offscreen: Wine passes no QT_* variable from Linux to a Windows
# program, so the prefix's own environment (HKCU\Environment) names Qt's
# offscreen platform and the fonts it draws with (Debian's DejaVu).
qt_offscreen() {
    "$@" wine reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /d offscreen /f >/dev/null 2>&1 \
        && "$@" wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /d "$(win_path /usr/share/fonts/truetype/dejavu)" /f \
            >/dev/null 2>&1 \
        || fail "cannot set Qt's platform in the Wine prefix"
}
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || fail "no DejaVu fonts: install fonts-dejavu-core"
qt_offscreen env

# The ordinary user's own prefix and wineserver, ended before wine_finish.
nobody_home="$work/nobody"
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups
    env HOME="$nobody_home" WINEPREFIX="$nobody_home/prefix")
suites_finish() {
    [ -d "$nobody_home/prefix" ] && { "${as_nobody[@]}" wineserver -k 2>/dev/null; "${as_nobody[@]}" wineserver -w 2>/dev/null; }
    wine_finish
}
trap suites_finish EXIT

python3 "$here/controller_host.py" "$QUOBIN_SIM" "$WINEPREFIX/dosdevices" "$work" "$work/host.port" \
    >"$work/host.log" 2>&1 &
sims+=("$!")
wait_for 10 test -s "$work/host.port" || fail "the controller host did not start: $(cat "$work/host.log")"
export QUOBIN_CONTROLLER_HOST
QUOBIN_CONTROLLER_HOST=$(cat "$work/host.port")

# run_suite REPORT COMMAND...: one suite, its QtTest report in REPORT; what
# failed, and the totals, on stdout.
failed=()
run_suite() {
    local report=$1 suite
    shift
    suite=$(basename "$report" .txt)
    echo "== $suite.exe"
    local begun=$SECONDS
    # QtTest's report goes to a file: under Wine a console program's QtTest
    # output does not reach a redirected stdout.
    timeout 600 "$@" -o "$(win_path "$report"),txt" </dev/null || failed+=("$suite")
    grep -E '^(FAIL|XPASS|Totals)|^   Loc:|^   Actual|^   Expected' "$report" 2>/dev/null \
        || { echo "no report"; failed+=("$suite"); }
    echo "   ($((SECONDS - begun)) s)"
}

# Cases left out under Wine, each with its reason.
#   tst_app_window letEventsRunWakesForAnEvent: under Wine 8 a timer that
#   falls due while the window waits in processEvents(WaitForMoreEvents)
#   runs only when the wait's own limit ends (10 s here): the wait wakes at
#   the timer's time but returns without its event.
#   tst_end_to_end outputHeldByXoffResumesOnXonWithNothingLost: a 150 ms
#   XOFF against a wait of 200 to 300 ms; under Wine the answer that follows
#   the XON is now and then read after the wait (1 run in 6), and the line
#   is sent again.
declare -A left_out=([tst_app_window]="letEventsRunWakesForAnEvent"
    [tst_end_to_end]="outputHeldByXoffResumesOnXonWithNothingLost")

# cases_of SUITE: the suite's test functions, without those left out.
cases_of() {
    local suite=$1 all
    all=$(timeout 60 wine "$QUOBIN_EXE_DIR/$suite.exe" -functions </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/()$//p')
    [ -n "$all" ] || fail "$suite.exe names no test functions"
    local case
    for case in ${left_out[$suite]}; do
        grep -qx "$case" <<<"$all" || fail "$suite.exe has no case $case to leave out"
        echo "   left out under Wine: $case" >&2
    done
    grep -vxF -f <(tr ' ' '\n' <<<"${left_out[$suite]}") <<<"$all"
}

for suite in "$@"; do
    if [ "$suite" = test_settings ]; then
        mkdir -p "$nobody_home"
        chown 65534:65534 "$nobody_home"
        chmod 755 "$work"
        timeout 240 "${as_nobody[@]}" wineboot -i >"$work/nobody-wineboot.log" 2>&1 \
            || { cat "$work/nobody-wineboot.log"; fail "wineboot could not make nobody's Wine prefix"; }
        qt_offscreen "${as_nobody[@]}"
        run_suite "$nobody_home/$suite.txt" "${as_nobody[@]}" wine "$QUOBIN_EXE_DIR/$suite.exe"
    else
        cases=()
        [ -n "${left_out[$suite]:-}" ] && mapfile -t cases < <(cases_of "$suite")
        run_suite "$work/$suite.txt" wine "$QUOBIN_EXE_DIR/$suite.exe" "${cases[@]}"
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    for log in "$work"/case-*.log; do
        [ -f "$log" ] && { echo "--- vantor-sim $(basename "$log")"; tail -n 20 "$log"; }
    done
    echo "--- controller host"; cat "$work/host.log"
    fail "under Wine: ${failed[*]}"
fi
echo "PASS in $((SECONDS - started)) s"
