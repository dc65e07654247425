#!/bin/sh
# Makes the Debian package with CPack and checks it: its name, its file list,
# that its dependencies name the Qt 6 serial-port library, and that lintian
# has nothing to say but that a first upload closes no bug report. Then
# unpacks it (dpkg -x) and runs its programs from below /usr on a virtual X
# server, as an unprivileged user and as root, each with a session bus of
# their own: a system install keeps its settings and links in the user's
# ~/.config/quobin, never beside the program, whoever runs it.
# Usage: package_deb.sh <build dir> <caption> <version> fortified|not-fortified
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 90 "$0" "$@"

build=$1
caption=$2
version=$3
fortified=$4
user=nobody

for tool in cpack dpkg-deb dpkg-shlibdeps lintian runuser; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/test installs what the tests need)"
done

# The package.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb="$work/package/quobin_${version}-1_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/package"; fail "no $(basename "$deb") made"; }

# Its files, and nothing else.
{
    echo usr/bin/quobin
    echo usr/bin/quobin-cli
    echo usr/bin/quobin-station
    echo usr/bin/quobin-line
    echo usr/bin/vantor-sim
    echo usr/share/applications/quobin.desktop
    echo usr/share/applications/quobin-station.desktop
    echo usr/share/doc/quobin/README.md
    echo usr/share/doc/quobin/changelog.Debian.gz
    echo usr/share/doc/quobin/copyright
    echo usr/share/doc/quobin/line.conf.example
    echo lib/systemd/system/quobin-line.service
    echo usr/share/man/man1/quobin.1.gz
    echo usr/share/man/man1/quobin-cli.1.gz
    echo usr/share/man/man1/quobin-station.1.gz
    echo usr/share/man/man1/quobin-line.1.gz
    echo usr/share/man/man1/vantor-sim.1.gz
    for size in 16 32 48; do echo "usr/share/icons/hicolor/${size}x$size/apps/quobin.png"; done
    echo usr/share/icons/hicolor/256x256/apps/quobin-station.png
} | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$work/files"
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected list"
dpkg-deb -c "$deb" | awk '$2 != "root/root" {bad=1} END {exit bad}' || fail "files not owned by root"

# Dependencies come from the programs: the serial-port library among them.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "$depends" | grep -q 'libqt6serialport6' || fail "the dependencies do not name libqt6serialport6"
# The station's tones play through Qt Multimedia.
echo "$depends" | grep -q 'libqt6multimedia6' || fail "the dependencies do not name libqt6multimedia6"
# The records' database driver is a plugin that no program links.
echo "$depends" | grep -q 'libqt6sql6-sqlite' || fail "the dependencies do not name libqt6sql6-sqlite"

# lintian, with its informational and pedantic tags: nothing but the tag of
# a first upload that closes no bug report (and the unit's, below). The package carries no
# overrides: every program calls fortified functions. A build without
# optimisation (the sanitizers' Debug build) cannot fortify the C library's
# functions.
allowed='W: quobin: initial-upload-closes-no-bugs [[]usr/share/doc/quobin/changelog.Debian.gz:1[]]'
# quobin-line's service comes as a systemd unit only, with no script for
# another init system (Debian 12 no longer asks for one).
allowed="$allowed|I: quobin: package-supports-alternative-init-but-no-init.d-script [[]lib/systemd/system/quobin-line.service[]]"
if [ "$fortified" != fortified ]; then
    allowed="$allowed|I: quobin: hardening-no-fortify-functions .*"
    echo "Not an optimised build: hardening-no-fortify-functions is expected"
fi
lintian --display-info --pedantic --show-overrides "$deb" >"$work/lintian.log" 2>&1
status=$?
grep -v '^running with root privileges' "$work/lintian.log"
grep -q '^[EWIPXO]: ' "$work/lintian.log" || [ "$status" -eq 0 ] || fail "lintian did not run (status $status)"
grep '^[EWIPXO]: ' "$work/lintian.log" | grep -Evx "$allowed" >"$work/lintian.tags"
[ -s "$work/lintian.tags" ] && fail "lintian reports $(wc -l <"$work/lintian.tags") tag(s) besides a first upload's"

# Unpacked as root (usr/bin belongs to root), then run as installed: below
# /usr. In a mount namespace of the program's own, the unpacked usr/bin is
# mounted over /usr/local/bin, so nothing is written into the real /usr.
chmod 755 "$work"
mkdir -m 755 "$work/root"
dpkg -x "$deb" "$work/root" || fail "dpkg -x"
bin="$work/root/usr/bin"
[ -d /usr/local/bin ] || fail "/usr/local/bin is missing: the installed programs are run from there"
unshare -m --propagation private true 2>/dev/null \
    || fail "unshare -m is refused: running the programs from below /usr needs a mount namespace (root with CAP_SYS_ADMIN)"

# as_installed USER HOME COMMAND...: COMMAND as USER, with HOME and a
# runtime folder of that user's own, where /usr/local/bin is the package's.
as_installed() {
    who=$1
    home=$2
    shift 2
    unshare -m --propagation private sh -c 'mount --bind "$1" /usr/local/bin && shift && exec "$@"' \
        sh "$bin" runuser -u "$who" -- env -i PATH="$PATH" LANG=C.UTF-8 HOME="$home" \
        XAUTHORITY="$home/.Xauthority" DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$home/runtime" \
        ${ASAN_OPTIONS+"ASAN_OPTIONS=$ASAN_OPTIONS"} ${UBSAN_OPTIONS+"UBSAN_OPTIONS=$UBSAN_OPTIONS"} \
        ${LSAN_OPTIONS+"LSAN_OPTIONS=$LSAN_OPTIONS"} "$@"
}

# new_home USER: a home folder of USER's own, with the X server's key.
new_home() {
    home="$work/home of $1"
    mkdir -m 700 "$home" "$home/runtime"
    cp "$XAUTHORITY" "$home/.Xauthority"
    chown -R "$1" "$home"
    echo "$home"
}

# first_start USER: the installed program, started by USER for the first
# time, shows its window with the defaults and no box, and at exit saves its
# settings in that user's ~/.config/quobin, never beside itself.
first_start() {
    home=$(new_home "$1")
    as_installed "$1" "$home" dbus-run-session -- /usr/local/bin/quobin &
    pid=$!
    if ! wait_for 15 shown "$caption"; then
        shown "Vantor Quobin" && fail "$1's first start showed a box"
        fail "the installed program showed no window \"$caption\" to $1"
    fi
    press "$(windows_named "$caption" | head -n 1)" alt+x
    program_ends 10 || fail "the installed program did not end well on Alt+X"
    settings="$home/.config/quobin/quobin.ini"
    same_bytes "$settings" '0\r\n5\r\n""\r\n' || fail "no settings file with the defaults at $settings"
    [ "$(stat -c %U "$settings")" = "$1" ] || fail "$settings does not belong to $1"
    [ -e "$bin/quobin.ini" ] && fail "$1's settings file appeared beside the program"
    echo "$1: first start without a box, settings saved in $settings"
}

runuser -u "$user" -- test -x "$bin/quobin" || fail "$user cannot run $bin/quobin"
runuser -u "$user" -- test -w "$bin" && fail "$user can write the program's folder"
first_start "$user"
# Root may write the program's folder, and still keeps nothing there.
first_start root

# quobin-cli link as root: the link goes into root's per-user folder, where
# it cannot override another user's own link.
"$bin/vantor-sim" >"$work/sim.out" 2>&1 &
sim=$!
wait_for 5 grep -q '^/dev/' "$work/sim.out" || { kill "$sim"; fail "vantor-sim gave no device"; }
device=$(head -n 1 "$work/sim.out")
home="$work/home of root"
as_installed root "$home" /usr/local/bin/quobin-cli link 3 "$device" >"$work/link.out" 2>&1
status=$?
kill "$sim"
wait "$sim" 2>/dev/null
cat "$work/link.out"
[ "$status" -eq 0 ] || fail "quobin-cli link 3 $device ended with $status"
[ "$(readlink "$home/.config/quobin/com3")" = "$device" ] || fail "no link $home/.config/quobin/com3 to $device"
[ -e "$bin/com3" ] || [ -L "$bin/com3" ] && fail "quobin-cli link made com3 beside the program"

# The line's page: the installed program answers as an unprivileged user,
# and its service unit is one that systemd takes, not enabled by the package.
as_installed "$user" "$(new_home "$user-line")" /usr/local/bin/quobin-line --help >"$work/line.out" 2>&1 \
    || { cat "$work/line.out"; fail "the installed quobin-line --help failed"; }
grep -q -- '--records TARGET' "$work/line.out" || fail "quobin-line --help does not give its usage"
unit="$work/root/lib/systemd/system/quobin-line.service"
command -v systemd-analyze >/dev/null || fail "systemd-analyze is not installed (the service unit is checked with it)"
# The unit names /usr/bin/quobin-line, which is the unpacked one here.
sed "s|/usr/bin/quobin-line|$work/root/usr/bin/quobin-line|" "$unit" >"$work/quobin-line.service"
systemd-analyze verify --man=no "$work/quobin-line.service" >"$work/unit.log" 2>&1 \
    || { cat "$work/unit.log"; fail "systemd-analyze verify refuses quobin-line.service"; }
grep -qx 'DynamicUser=yes' "$unit" || fail "quobin-line.service does not run as a user of its own"
grep -qx 'EnvironmentFile=/etc/quobin/line.conf' "$unit" || fail "quobin-line.service does not read /etc/quobin/line.conf"
dpkg-deb -I "$deb" | grep -Eq 'postinst|systemctl' && fail "the package enables or starts a service"
echo "PASS ($(basename "$deb"): settings and links kept in each user's ~/.config/quobin; quobin-line and its unit)"
