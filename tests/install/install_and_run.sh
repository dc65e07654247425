#!/bin/sh
# Installs the build into a fresh folder and packs it with CPack, then starts
# the program from the installed folder and from the unpacked package on a
# virtual X server, exits it with Alt+X and checks that its settings file
# appears beside it. The program has no command line and Qt does not save on
# SIGTERM, so it is ended the way an operator ends it. quobin-station starts
# there too, ends on Ctrl+Q and keeps its set-up beside itself.
# Usage: install_and_run.sh <build dir> <caption>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 60 "$0" "$@"

build=$1
caption=$2

# run_and_exit DIR: the program in DIR shows its window, ends on Alt+X and
# leaves DIR/quobin.ini with the default settings.
run_and_exit() {
    (cd / && exec "$1/quobin") &
    pid=$!
    # A fresh folder has no settings file yet: the program says so in a box
    # before its window shows, and takes the defaults.
    wait_for 10 shown "Vantor Quobin" || fail "$1/quobin did not report its missing settings file"
    press "$(windows_named "Vantor Quobin" | head -n 1)" Return
    wait_for 10 shown "$caption" || fail "$1/quobin showed no window \"$caption\""
    press "$(windows_named "$caption" | head -n 1)" alt+x
    program_ends 5 || fail "$1/quobin did not end well on Alt+X"
    same_bytes "$1/quobin.ini" '0\r\n5\r\n""\r\n' || fail "no settings file with the defaults in $1 after exit"
    echo "$1: ran, ended on Alt+X, wrote quobin.ini"
}

# run_station DIR: quobin-station in DIR shows its window, ends on Ctrl+Q
# and leaves DIR/quobin-station.ini.
run_station() {
    (cd / && exec "$1/quobin-station") &
    pid=$!
    wait_for 10 shown "Quobin Station" || fail "$1/quobin-station showed no window"
    press "$(windows_named "Quobin Station" | head -n 1)" ctrl+q
    program_ends 5 || fail "$1/quobin-station did not end well on Ctrl+Q"
    [ -f "$1/quobin-station.ini" ] || fail "no quobin-station.ini in $1 after exit"
    echo "$1: quobin-station ran, ended on Ctrl+Q, wrote quobin-station.ini"
}

# The installed folder.
prefix="$work/installed folder"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
for file in quobin quobin-cli quobin-station vantor-sim quobin.ico quobin-station.png quobin.desktop \
    quobin-station.desktop make-desktop-entry.sh; do
    [ -e "$prefix/$file" ] || fail "$file not installed"
done
[ -e "$build/../README.md" ] && { [ -e "$prefix/README.md" ] || fail "README.md not installed"; }
grep -qx "Exec=\"$prefix/quobin\"" "$prefix/quobin.desktop" || fail "desktop entry Exec does not name $prefix/quobin"
grep -qx "Icon=$prefix/quobin.ico" "$prefix/quobin.desktop" || fail "desktop entry Icon does not name $prefix/quobin.ico"
"$prefix/vantor-sim" --help >/dev/null || fail "installed vantor-sim does not run"
"$prefix/quobin-cli" --version | grep -q "^quobin-cli " || fail "installed quobin-cli does not run"
grep -qx "Exec=\"$prefix/quobin-station\"" "$prefix/quobin-station.desktop" || fail "station desktop entry Exec"
run_and_exit "$prefix"
run_station "$prefix"

# The package: one folder that runs wherever it is unpacked.
cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
tarball=$(ls "$work/package"/*.tar.gz) || fail "no .tar.gz made"
mkdir "$work/unpacked"
tar xzf "$tarball" -C "$work/unpacked" || fail "tar"
[ "$(ls "$work/unpacked" | wc -l)" -eq 1 ] || fail "the package does not unpack into one folder"
folder="$work/unpacked/$(ls "$work/unpacked")"
"$folder/make-desktop-entry.sh" >/dev/null || fail "make-desktop-entry.sh"
grep -qx "Exec=\"$folder/quobin\"" "$folder/quobin.desktop" || fail "unpacked desktop entry Exec"
"$folder/quobin-cli" --version | grep -q "^quobin-cli " || fail "unpacked quobin-cli does not run"
grep -qx "Exec=\"$folder/quobin-station\"" "$folder/quobin-station.desktop" || fail "unpacked station desktop entry Exec"
run_and_exit "$folder"
run_station "$folder"
echo "PASS ($(basename "$tarball"))"
