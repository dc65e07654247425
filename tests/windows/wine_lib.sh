# Shared by the tests that run the Windows programs under Wine. Source it
# from a bash script, then call wine_setup once: every case of the script
# shares one Wine prefix (making one takes half a minute).
# shellcheck shell=bash

fail() {
    echo "FAIL: $*"
    exit 1
}

# wine_setup: a prefix of the test's own in a temporary folder (work), its
# own wineserver, and the X server that the caller's environment names (the
# window tests run under xvfb-run; the others need none: WINEDLLOVERRIDES
# keeps Wine from offering to install Mono and Gecko). Everything goes at exit.
wine_setup() {
    command -v wine >/dev/null && command -v wineserver >/dev/null && [ -e /usr/lib/wine/wine64 ] \
        || fail "Wine is missing: install Debian's wine and wine64 (apt-get install -y wine wine64)"
    work=$(mktemp -d)
    sims=()
    trap wine_finish EXIT
    export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" HOME="$work/home"
    mkdir -p "$HOME"
    local started=$SECONDS
    timeout 240 wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log"; fail "wineboot could not make a Wine prefix"; }
    echo "Wine prefix made in $((SECONDS - started)) s"
    # The Windows user's folders, as the programs see them.
    local user
    user=$(id -un)
    appdata="$WINEPREFIX/drive_c/users/$user/AppData/Roaming"
    localappdata="$WINEPREFIX/drive_c/users/$user/AppData/Local"
}

wine_finish() {
    local sim
    for sim in "${sims[@]}"; do
        kill "$sim" 2>/dev/null
        wait "$sim" 2>/dev/null
    done
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    rm -rf "$work"
}

# start_sim N [vantor-sim options...]: the Linux simulator on a pseudo-
# terminal that Wine's COMN reaches; its pid in sim_pid, its log (--verbose)
# in $work/simN.log.
start_sim() {
    local n=$1
    shift
    local link="$WINEPREFIX/dosdevices/com$n"
    rm -f "$link"
    "$QUOBIN_SIM" --verbose --link "$link" "$@" >"$work/sim$n.out" 2>"$work/sim$n.log" &
    sim_pid=$!
    sims+=("$sim_pid")
    wait_for 10 test -L "$link" || fail "vantor-sim did not start for COM$n: $(cat "$work/sim$n.log")"
}

# wait_for SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
    local tries=$(($1 * 10))
    shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

# win_path PATH: the Windows name of a Linux path (through drive Z:).
win_path() {
    printf 'Z:%s' "${1//\//\\}"
}

# cli ARGS...: quobin-cli.exe under Wine; its output in $work/out and
# $work/err, its exit status in status.
cli() {
    status=0
    timeout 120 wine "$QUOBIN_EXE_DIR/quobin-cli.exe" "$@" >"$work/out" 2>"$work/err" </dev/null || status=$?
}

# expect_status N WHAT: the last cli exited with N.
expect_status() {
    [ "$status" -eq "$1" ] || {
        echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
        fail "$2: exit status $status, expected $1"
    }
}

# crlf_lines FILE: the firmware file's lines, each ended by CR LF, as the
# simulator records what a board took into its flash.
crlf_lines() {
    sed 's/\r$//; s/$/\r/' "$1"
}

# start_serial_server NAME [vantor-sim options...]: the Linux simulator on a
# pseudo-terminal of its own, behind Debian's ser2net as a serial server:
# RFC 2217 on a free port of 127.0.0.1, run as nobody when the test runs as
# root. Sets sim_pid, server_pid and server_port; the simulator's log is
# $work/NAME.log, ser2net's $work/NAME.ser2net.
start_serial_server() {
    local name=$1
    shift
    local ser2net
    ser2net=$(command -v ser2net || ls /usr/sbin/ser2net 2>/dev/null) \
        || fail "ser2net is missing: install Debian's ser2net (apt-get install -y ser2net)"
    "$QUOBIN_SIM" --verbose --link "$work/$name.pty" "$@" >"$work/$name.out" 2>"$work/$name.log" &
    sim_pid=$!
    sims+=("$sim_pid")
    wait_for 10 test -L "$work/$name.pty" || fail "vantor-sim did not start for $name: $(cat "$work/$name.log")"
    local device
    device=$(readlink -f "$work/$name.pty")
    # The ordinary user reaches the pseudo-terminal and its configuration.
    chmod 666 "$device"
    chmod 711 "$work"
    local as_user=()
    [ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    local try
    server_pid=
    for try in 1 2 3 4 5; do
        server_port=$((20000 + (RANDOM * 7 + try * 977) % 40000))
        cat >"$work/$name.yaml" <<YAML
connection: &$name
  accepter: telnet(rfc2217),tcp,127.0.0.1,$server_port
  connector: serialdev,$device,9600n81,local
  options:
    chardelay: false
YAML
        chmod 644 "$work/$name.yaml"
        # No daemon, no UUCP lock files (an ordinary user cannot write them).
        "${as_user[@]}" "$ser2net" -n -u -c "$work/$name.yaml" >"$work/$name.ser2net" 2>&1 &
        server_pid=$!
        # Listening, or gone (its port was taken).
        if wait_for 10 bash -c "(exec 3<>/dev/tcp/127.0.0.1/$server_port) 2>/dev/null || ! kill -0 $server_pid 2>/dev/null" \
            && kill -0 "$server_pid" 2>/dev/null; then
            sims+=("$server_pid")
            # Let it finish with the probe's connection before the test's.
            sleep 0.3
            return 0
        fi
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
        server_pid=
    done
    fail "ser2net would not listen on a port of 127.0.0.1: $(cat "$work/$name.ser2net")"
}
