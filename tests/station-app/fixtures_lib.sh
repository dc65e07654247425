# Simulated fixtures for the station window's scripts under Xvfb, each
# started behind its link and ended with the script. Sourced after
# under_xvfb (tests/support/xvfb_lib.sh), once $sim names vantor-sim.
sims=
trap 'for s in $sims; do kill "$s" 2>/dev/null; done; finish' EXIT

fixture() { # fixture LINK ARGS...: a simulated fixture behind the link
    link=$1
    shift
    "$sim" --link "$link" "$@" >/dev/null 2>&1 &
    sims="$sims $!"
    wait_for 5 test -e "$link" || fail "the simulator for $link did not start"
}
