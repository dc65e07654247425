# Shared by the scripts: where the project is, and installing what it needs.
# shellcheck shell=bash

QUOBIN_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# What building and testing need on Debian 12.
QUOBIN_BUILD_PACKAGES=(cmake g++ make qt6-base-dev qt6-serialport-dev qt6-multimedia-dev qt6-httpserver-dev qt6-websockets-dev libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins fonts-dejavu-core)
# What the tests and the screenshots need besides: a virtual X server and
# the tools that drive it, a private session bus (dbus-run-session), the
# Debian package's tools (cpack -G DEB runs dpkg-shlibdeps and file; lintian
# checks the package), and the sources that a test compiles a comma-decimal
# locale from (locales), the PostgreSQL server that the records tests start
# themselves (postgresql), and the screen reader's view of the station window
# through AT-SPI (python3-gi, gir1.2-atspi-2.0). dbus-x11 and at-spi2-core
# make the machine look like a desktop, whose session bus and accessibility
# bus the tests must not meet. The station window's tones need Qt Multimedia
# (qt6-multimedia-dev). The real-driver tests boot a QEMU guest
# (qemu-system-x86) from an initramfs of static busybox made with cpio; they
# fetch Debian's kernel and udev with apt-get download themselves. The TLS
# test of the records server makes its CA and certificates with openssl; a
# unit test reads the records' connection options with libpq's own parser
# (libpq-dev). The line's page is opened by headless Chromium through
# chromedriver; strace shows what files a request makes it open; the package
# test checks the service unit with systemd-analyze (systemd).
QUOBIN_TEST_PACKAGES=(xvfb xauth x11-utils xdotool dbus-daemon dbus-x11 at-spi2-core dpkg-dev file lintian locales
    postgresql openssl libpq-dev python3-gi gir1.2-atspi-2.0 qemu-system-x86 busybox-static cpio ser2net
    chromium chromium-driver strace systemd)

# The Windows build (scripts/windows): Debian's mingw-w64 cross compiler with
# posix threads, Ninja, and the Qt host tools of Debian's own Qt 6.4.2
# (moc, rcc); zip and NSIS (makensis) make the ZIP and the installer.
QUOBIN_WINDOWS_PACKAGES=(mingw-w64 g++-mingw-w64-x86-64-posix ninja-build ccache qt6-base-dev-tools xz-utils zip nsis)
# Its tests run the programs under Debian's Wine (wine64), on a virtual X
# server for the windows; the window's suites run offscreen with DejaVu's
# fonts, their controller host in python3.
QUOBIN_WINDOWS_TEST_PACKAGES=(wine wine64 xvfb xauth python3 fonts-dejavu-core)

# ensure_packages PKG...: installs the Debian packages that are missing.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Quobin needs these Debian packages: ${missing[*]}" >&2
        echo "Install them as root:  sudo apt-get install -y ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing ${missing[*]} ..."
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

# configure_and_build DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$QUOBIN_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
