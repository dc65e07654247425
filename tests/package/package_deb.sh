#!/bin/sh
# Makes the Debian package with CPack and checks it: its name, its file list,
# that its dependencies name the Qt 6 serial-port library, and that lintian
# finds no errors. Then unpacks it (dpkg -x) and starts /usr/bin/quobin as an
# unprivileged user on a virtual X server, with a session bus of that user's
# own: the program's folder belongs to root, so the program must keep its
# settings in that user's ~/.config/quobin/quobin.ini.
# Usage: package_deb.sh <build dir> <caption> <version>
set -u
. "$(dirname "$0")/../support/xvfb_lib.sh"
under_xvfb 90 "$0" "$@"

build=$1
caption=$2
version=$3
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
    echo usr/bin/vantor-sim
    echo usr/share/applications/quobin.desktop
    echo usr/share/doc/quobin/README.md
    echo usr/share/doc/quobin/changelog.Debian.gz
    echo usr/share/doc/quobin/copyright
    echo usr/share/man/man1/quobin.1.gz
    echo usr/share/man/man1/quobin-cli.1.gz
    echo usr/share/man/man1/vantor-sim.1.gz
    for size in 16 32 48; do echo "usr/share/icons/hicolor/${size}x$size/apps/quobin.png"; done
} | sort >"$work/expected"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort >"$work/files"
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the expected list"
dpkg-deb -c "$deb" | awk '$2 != "root/root" {bad=1} END {exit bad}' || fail "files not owned by root"

# Dependencies come from the programs: the serial-port library among them.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
echo "$depends" | grep -q 'libqt6serialport6' || fail "the dependencies do not name libqt6serialport6"
# The records' database driver is a plugin that no program links.
echo "$depends" | grep -q 'libqt6sql6-sqlite' || fail "the dependencies do not name libqt6sql6-sqlite"

# lintian: no errors; its warnings are shown.
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1
status=$?
grep -v '^running with root privileges' "$work/lintian.log"
[ "$status" -eq 0 ] || fail "lintian reports errors"

# Unpacked as root (usr/bin belongs to root), then used by an ordinary user.
chmod 755 "$work"
mkdir -m 755 "$work/root"
dpkg -x "$deb" "$work/root" || fail "dpkg -x"
home="$work/home of $user"
mkdir -m 700 "$home" "$work/runtime of $user"
cp "$XAUTHORITY" "$home/.Xauthority"
chown -R "$user" "$home" "$work/runtime of $user"
program="$work/root/usr/bin/quobin"
runuser -u "$user" -- test -x "$program" || fail "$user cannot run $program"
runuser -u "$user" -- test -w "$work/root/usr/bin" && fail "$user can write the program's folder"

runuser -u "$user" -- env -i PATH="$PATH" LANG=C.UTF-8 HOME="$home" XAUTHORITY="$home/.Xauthority" \
    DISPLAY="$DISPLAY" XDG_RUNTIME_DIR="$work/runtime of $user" \
    ${ASAN_OPTIONS+"ASAN_OPTIONS=$ASAN_OPTIONS"} ${UBSAN_OPTIONS+"UBSAN_OPTIONS=$UBSAN_OPTIONS"} \
    ${LSAN_OPTIONS+"LSAN_OPTIONS=$LSAN_OPTIONS"} \
    dbus-run-session -- "$program" &
pid=$!
# No settings yet: the box says so, then the window shows with the defaults.
wait_for 15 shown "Vantor Quobin" || fail "the unpacked program did not report its missing settings file"
press "$(windows_named "Vantor Quobin" | head -n 1)" Return
wait_for 10 shown "$caption" || fail "the unpacked program showed no window \"$caption\""
press "$(windows_named "$caption" | head -n 1)" alt+x
program_ends 10 || fail "the unpacked program did not end well on Alt+X"

settings="$home/.config/quobin/quobin.ini"
same_bytes "$settings" '0\r\n5\r\n""\r\n' || fail "no settings file with the defaults at $settings"
[ "$(stat -c %U "$settings")" = "$user" ] || fail "$settings does not belong to $user"
[ -e "$work/root/usr/bin/quobin.ini" ] && fail "a settings file appeared beside the program"
echo "PASS ($(basename "$deb"): settings saved in the user's ~/.config/quobin/quobin.ini)"
