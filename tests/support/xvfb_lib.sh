# Shared by the tests that drive the real program on a virtual X server.
# Source it from a POSIX sh script, then call under_xvfb first.
# shellcheck shell=sh

# under_xvfb SECONDS SCRIPT ARGS...: runs SCRIPT again, ended after SECONDS,
# on a screen of QUOBIN_XVFB_SCREEN (800x600x24 unless the caller sets it),
# on a virtual X server of its own with a session bus of its own, in an
# environment of its own; returns at once when already there.
#
# Nothing of the caller's environment reaches the program but PATH, the
# sanitizers' options and a locale chosen for the run (LC_ALL and LOCPATH,
# as scripts/test --locale sets them, since a desktop's language is part of
# what the tests try): a QT_SCALE_FACTOR, QT_FONT_DPI or QT_QPA_PLATFORM of
# the caller would change the window, a DISPLAY or WAYLAND_DISPLAY would
# send it elsewhere, and xvfb-run cannot cope with a TMPDIR holding a space
# (it does not quote its auth file's path).
#
# The private session bus keeps the program off the machine's bus. Without
# one, where dbus-x11 and at-spi2-core are installed, the first program
# started autolaunches a bus bound to the virtual display that outlives it,
# and the next program started there no longer gets the keys sent to it.
under_xvfb() {
    if [ -n "${QUOBIN_UNDER_XVFB:-}" ]; then
        xvfb_test_setup
        return 0
    fi
    limit=$1
    shift
    exec env -i PATH="$PATH" TMPDIR=/tmp LANG=C.UTF-8 QUOBIN_UNDER_XVFB=1 \
        ${ASAN_OPTIONS+"ASAN_OPTIONS=$ASAN_OPTIONS"} \
        ${UBSAN_OPTIONS+"UBSAN_OPTIONS=$UBSAN_OPTIONS"} \
        ${LSAN_OPTIONS+"LSAN_OPTIONS=$LSAN_OPTIONS"} \
        ${LC_ALL+"LC_ALL=$LC_ALL"} ${LOCPATH+"LOCPATH=$LOCPATH"} \
        timeout "$limit" xvfb-run -a -s "-screen 0 ${QUOBIN_XVFB_SCREEN:-800x600x24}" \
        dbus-run-session -- sh "$@"
}

# A folder of the test's own (work), holding its home and runtime folders,
# and the program it started (pid): both go at exit.
xvfb_test_setup() {
    work=$(mktemp -d)
    pid=
    trap finish EXIT
    mkdir -m 700 "$work/home" "$work/runtime"
    export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime"
}
finish() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$work"
}

fail() {
    echo "FAIL: $1"
    exit 1
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
    tries=$(($1 * 10))
    shift
    while [ "$tries" -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

# windows_named NAME: the ids of the visible windows with exactly that name.
windows_named() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
}

# shown NAME [COUNT]: at least COUNT (1) visible windows are named NAME.
shown() {
    [ "$(windows_named "$1" | wc -l)" -ge "${2:-1}" ]
}

# press WINDOW KEY: gives WINDOW the focus and presses KEY there.
press() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key --window "$1" "$2" 2>/dev/null # a box may be gone before the key is let go
}

# program_ends SECONDS: waits until the program started as pid has ended.
program_ends() {
    wait_for "$1" sh -c "! kill -0 $pid 2>/dev/null" || return 1
    wait "$pid"
    status=$?
    pid=
    return $status
}

# same_bytes FILE TEXT: FILE holds exactly TEXT (printf escapes allowed).
same_bytes() {
    [ "$(od -An -c "$1" 2>/dev/null | tr -s ' ')" = "$(printf "$2" | od -An -c | tr -s ' ')" ]
}
