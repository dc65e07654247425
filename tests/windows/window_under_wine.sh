#!/usr/bin/env bash
# quobin.exe and the installer under Wine on a virtual X server: from a
# portable folder the window writes quobin.ini beside itself (three lines
# ended by CR LF); installed per user by the NSIS installer (/S) it writes
# only under %APPDATA%\Quobin; while it runs, the installer and the
# uninstaller change nothing and fail; the uninstaller removes the program files.
# A quobin.ini in the ANSI code page is written back as it came.
# quobin-station.exe loads its set-up from beside itself and saves it back.
# With a third argument it also saves screenshots of quobin.exe and
# quobin-station.exe there (GRAB_SCREEN names the Linux grab_screen tool).
#   window_under_wine.sh EXE_DIR BUILD_DIR [SCREENSHOT_DIR]
set -uo pipefail
QUOBIN_EXE_DIR=$1
BUILD_DIR=$2
SHOTS=${3:-}
if [ -z "${QUOBIN_UNDER_XVFB:-}" ]; then
    command -v xvfb-run >/dev/null || { echo "FAIL: xvfb-run is missing: install xvfb and xauth"; exit 1; }
    QUOBIN_UNDER_XVFB=1 exec timeout 540 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi
source "$(dirname "$0")/wine_lib.sh"
wine_setup
command -v xdotool >/dev/null || fail "xdotool is missing: install xdotool"

# start_and_close EXE TITLE [BOX]: starts EXE; when BOX is given, waits for
# the message box of that title that it shows first and answers it (OK, with
# Enter); waits for its window (a title starting with TITLE), closes it as
# the operator does (WM_CLOSE, through taskkill without /F) and waits for
# the program to end. With SHOT set, saves the screen to SHOT first.
start_and_close() {
    local exe=$1 title=$2 box=${3:-}
    wine "$exe" >"$work/window.out" 2>&1 &
    local program=$!
    if [ -n "$box" ]; then
        wait_for 60 xdotool search --onlyvisible --name "^$box\$" >/dev/null \
            || { kill "$program"; fail "$exe showed no box named $box: $(cat "$work/window.out")"; }
        sleep 1
        xdotool key Return
    fi
    wait_for 60 xdotool search --onlyvisible --name "^$title" >/dev/null \
        || { kill "$program"; fail "$exe showed no window named $title: $(cat "$work/window.out")"; }
    sleep 2
    if [ -n "${SHOT:-}" ] && [ -n "${GRAB_SCREEN:-}" ]; then
        "$GRAB_SCREEN" "$SHOT" || echo "no screenshot"
    fi
    wine taskkill /im "$(basename "$exe")" >/dev/null 2>&1
    local tries=200
    while kill -0 "$program" 2>/dev/null; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { kill "$program"; fail "$exe did not end when its window was closed"; }
        sleep 0.1
    done
    wait "$program" 2>/dev/null
}

echo "== quobin.exe --help names Windows' folders and ports"
timeout 60 wine "$QUOBIN_EXE_DIR/quobin.exe" --help >"$work/help" 2>&1 || fail "quobin.exe --help failed: $(cat "$work/help")"
grep -qF 'Usage: quobin' "$work/help" || fail "no usage: $(cat "$work/help")"
grep -nE '~/|\.config|comN' "$work/help" && fail "quobin.exe --help names Linux's folders or links"
grep -qF '%APPDATA%\Quobin\' "$work/help" || fail "quobin.exe --help names no settings folder: $(cat "$work/help")"

echo "== quobin.exe from a portable folder writes quobin.ini beside itself"
portable="$work/portable Ü"
mkdir -p "$portable"
cp "$QUOBIN_EXE_DIR/quobin.exe" "$portable/"
# A portable folder without quobin.ini says so in a box first, as the
# window has always done, and starts with the defaults.
SHOT=${SHOTS:+$SHOTS/quobin-windows.png} start_and_close "$portable/quobin.exe" "Kelsar Vantor Quobin - V" \
    "Vantor Quobin"
[ -f "$portable/quobin.ini" ] || fail "no quobin.ini beside the portable quobin.exe: $(ls "$portable")"
lines=$(grep -c $'\r$' "$portable/quobin.ini")
[ "$lines" -eq 3 ] && [ "$(wc -l <"$portable/quobin.ini")" -eq 3 ] \
    || fail "quobin.ini is not three lines ended by CR LF: $(od -c "$portable/quobin.ini" | head -5)"
[ ! -e "$appdata/Quobin" ] || fail "a portable program wrote into %APPDATA%\\Quobin"

echo "== quobin.exe writes a quobin.ini in the ANSI code page back as it came"
# As an older tool on the same PC writes it, in code page 1252.
printf '2\r\n5\r\n"C:\\Pumpen\\Pumpe f\374r Halle 3.hex"\r\n' >"$portable/quobin.ini"
cp "$portable/quobin.ini" "$work/ansi.ini"
start_and_close "$portable/quobin.exe" "Kelsar Vantor Quobin - V"
cmp "$work/ansi.ini" "$portable/quobin.ini" || fail "quobin.ini was rewritten: $(od -c "$portable/quobin.ini" | head -5)"

echo "== quobin-station.exe loads its set-up from beside itself and saves it at close"
# Written as an operator's earlier session left it; every value differs
# from the defaults, so a set-up that was not loaded is not saved back so.
cp "$QUOBIN_EXE_DIR/quobin-station.exe" "$portable/"
printf '[job]\r\nfile=C:/Firmware/main.hex\r\n\r\n[station]\r\nname=bench-7\r\nsound=false\r\n' \
    >"$portable/quobin-station.ini"
SHOT=${SHOTS:+$SHOTS/quobin-station-windows.png} start_and_close "$portable/quobin-station.exe" "Quobin Station"
for line in 'file=C:/Firmware/main.hex' 'name=bench-7' 'sound=false'; do
    grep -qxF "$line" <(tr -d '\r' <"$portable/quobin-station.ini") \
        || fail "quobin-station.ini lost $line at close: $(cat "$portable/quobin-station.ini")"
done

echo "== the installer, silent and per user"
setup=$(ls "$BUILD_DIR"/quobin-*-windows-x64-setup.exe)
[ -f "$setup" ] || fail "no installer in $BUILD_DIR"
touch "$work/before-install"
sleep 1
timeout 120 wine "$setup" /S || fail "the installer failed"
installed="$localappdata/Programs/Quobin"
for file in quobin.exe quobin-cli.exe quobin-station.exe README.txt LICENSE.txt COPYRIGHT-PostgreSQL.txt \
    LICENSE-OpenSSL.txt "Uninstall Quobin.exe"; do
    [ -f "$installed/$file" ] || fail "the installer left out $file: $(ls "$installed" 2>&1)"
done
menu="$appdata/Microsoft/Windows/Start Menu/Programs/Quobin"
[ -f "$menu/Quobin.lnk" ] && [ -f "$menu/Quobin Station.lnk" ] \
    || fail "no Start-menu entries: $(ls "$menu" 2>&1)"

echo "== installed, quobin.exe writes only under %APPDATA%\\Quobin"
touch "$work/before-run"
sleep 1
start_and_close "$installed/quobin.exe" "Kelsar Vantor Quobin - V"
[ -f "$appdata/Quobin/quobin.ini" ] || fail "no %APPDATA%\\Quobin\\quobin.ini"
# Everything the run wrote in the Windows drive, but Wine's own files.
find "$WINEPREFIX/drive_c" -newer "$work/before-run" -type f \
    -not -path "$WINEPREFIX/drive_c/windows/*" -not -path "*/AppData/Local/Temp/*" >"$work/written"
grep -v "^$appdata/Quobin/" "$work/written" && fail "the installed program wrote outside %APPDATA%\\Quobin"

echo "== while quobin.exe runs, the installer and the uninstaller change nothing and exit non-zero"
wine "$installed/quobin.exe" >"$work/running.out" 2>&1 &
running=$!
wait_for 60 xdotool search --onlyvisible --name "^Kelsar Vantor Quobin - V" >/dev/null \
    || { kill "$running"; fail "the installed quobin.exe showed no window: $(cat "$work/running.out")"; }
(cd "$installed" && md5sum -- *) >"$work/installed.sums"
status=0
timeout 120 wine "$setup" /S || status=$?
[ "$status" -ne 0 ] || fail "the installer exited 0 while quobin.exe ran"
# In place (_?=): the uninstaller's own exit status, not its copy's.
status=0
timeout 60 wine "$installed/Uninstall Quobin.exe" /S "_?=$(win_path "$installed")" || status=$?
[ "$status" -ne 0 ] || fail "the uninstaller exited 0 while quobin.exe ran"
(cd "$installed" && md5sum -- *) | diff "$work/installed.sums" - || fail "the install changed while quobin.exe ran"
[ -f "$menu/Quobin.lnk" ] && [ -f "$menu/Quobin Station.lnk" ] && [ -f "$menu/Uninstall Quobin.lnk" ] \
    || fail "Start-menu entries went while quobin.exe ran: $(ls "$menu" 2>&1)"
kill -0 "$running" 2>/dev/null || fail "quobin.exe ended"
wine taskkill /im quobin.exe >/dev/null 2>&1
wait_for 20 bash -c "! kill -0 $running 2>/dev/null" || { kill "$running"; fail "quobin.exe did not end when closed"; }
wait "$running" 2>/dev/null
timeout 120 wine "$setup" /S || fail "the installer failed once quobin.exe had ended"

echo "== the uninstaller removes the program files"
timeout 60 wine "$installed/Uninstall Quobin.exe" /S
wait_for 30 test ! -e "$installed/quobin.exe" || fail "the uninstaller left $(ls "$installed")"
wait_for 30 test ! -e "$installed" || fail "the uninstaller left the folder: $(ls -A "$installed")"
# The uninstaller's copy goes on after the program files: the entries last.
wait_for 30 test ! -e "$menu" || fail "the uninstaller left the Start-menu entries: $(ls "$menu")"
[ -f "$appdata/Quobin/quobin.ini" ] || fail "the uninstaller removed the operator's settings"
echo "PASS"
