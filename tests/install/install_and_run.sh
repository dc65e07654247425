#!/bin/sh
# Installs the build into a fresh folder and packs it with CPack, then starts
# the program from the installed folder and from the unpacked package on a
# virtual X server, exits it with Alt+X and checks that its settings file
# appears beside it. The program has no command line and Qt does not save on
# SIGTERM, so it is ended the way an operator ends it.
# Usage: install_and_run.sh <build dir> <caption>
set -u

if [ -z "${QUOBIN_INSTALL_UNDER_XVFB:-}" ]; then
    QUOBIN_INSTALL_UNDER_XVFB=1 exec timeout 100 xvfb-run -a -s "-screen 0 800x600x24" sh "$0" "$@"
fi

build=$1
caption=$2
work=$(mktemp -d)
pid=
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
fail() { echo "FAIL: $1"; exit 1; }

# run_and_exit DIR: the program in DIR shows its window, ends on Alt+X and
# leaves DIR/quobin.ini with the default settings.
run_and_exit() {
    unset QT_QPA_PLATFORM
    (cd / && exec "$1/quobin") &
    pid=$!
    # A fresh folder has no settings file yet: the program says so in a box
    # before its window shows, and takes the defaults.
    box=
    i=0
    while [ -z "$box" ] && [ $i -lt 100 ]; do
        box=$(xdotool search --onlyvisible --name "^Vantor Quobin\$" 2>/dev/null | head -n 1)
        [ -n "$box" ] || sleep 0.1
        i=$((i + 1))
    done
    [ -n "$box" ] || fail "$1/quobin did not report its missing settings file"
    xdotool windowfocus --sync "$box" 2>/dev/null
    xdotool key --window "$box" Return 2>/dev/null  # the box may be gone before the key is let go
    window=
    i=0
    while [ -z "$window" ] && [ $i -lt 100 ]; do
        window=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | head -n 1)
        [ -n "$window" ] || sleep 0.1
        i=$((i + 1))
    done
    [ -n "$window" ] || fail "$1/quobin showed no window \"$caption\""
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --window "$window" alt+x
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
        sleep 0.1
        i=$((i + 1))
    done
    kill -0 "$pid" 2>/dev/null && fail "$1/quobin did not end on Alt+X"
    wait "$pid" || fail "$1/quobin ended with status $?"
    pid=
    [ "$(od -An -c "$1/quobin.ini" 2>/dev/null | tr -s ' ')" = "$(printf '0\r\n5\r\n""\r\n' | od -An -c | tr -s ' ')" ] \
        || fail "no settings file with the defaults in $1 after exit"
    echo "$1: ran, ended on Alt+X, wrote quobin.ini"
}

# The installed folder.
prefix="$work/installed folder"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install"; }
for file in quobin vantor-sim quobin.ico quobin.desktop make-desktop-entry.sh; do
    [ -e "$prefix/$file" ] || fail "$file not installed"
done
[ -e "$build/../README.md" ] && { [ -e "$prefix/README.md" ] || fail "README.md not installed"; }
grep -qx "Exec=\"$prefix/quobin\"" "$prefix/quobin.desktop" || fail "desktop entry Exec does not name $prefix/quobin"
grep -qx "Icon=$prefix/quobin.ico" "$prefix/quobin.desktop" || fail "desktop entry Icon does not name $prefix/quobin.ico"
"$prefix/vantor-sim" --help >/dev/null || fail "installed vantor-sim does not run"
run_and_exit "$prefix"

# The package: one folder that runs wherever it is unpacked.
cpack --config "$build/CPackConfig.cmake" -G TGZ -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
tarball=$(ls "$work/package"/*.tar.gz) || fail "no .tar.gz made"
mkdir "$work/unpacked"
tar xzf "$tarball" -C "$work/unpacked" || fail "tar"
[ "$(ls "$work/unpacked" | wc -l)" -eq 1 ] || fail "the package does not unpack into one folder"
folder="$work/unpacked/$(ls "$work/unpacked")"
"$folder/make-desktop-entry.sh" >/dev/null || fail "make-desktop-entry.sh"
grep -qx "Exec=\"$folder/quobin\"" "$folder/quobin.desktop" || fail "unpacked desktop entry Exec"
run_and_exit "$folder"
echo "PASS ($(basename "$tarball"))"
