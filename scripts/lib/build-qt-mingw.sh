#!/usr/bin/env bash
# Builds Qt for 64-bit Windows as scripts/windows uses it, when the prebuilt
# archive (../shared/toolchains/qt6-mingw-6.4.2.tar.xz) is not at hand: Qt
# 6.4.2's base module for x86_64-w64-mingw32 (posix threads), static,
# release, from Debian 12's own source packages and nothing else:
#   qt6-base  6.4.2+dfsg-10  Debian leaves out src/3rdparty/sqlite and
#                            src/3rdparty/wintab (their licences), so
#   sqlite3   3.40.1         the SQLite amalgamation is made from Debian's
#                            sqlite3 source (needs tclsh), and tablet events
#                            are switched off.
# Usage: build-qt-mingw.sh CACHE      (as root, for apt-get; about 40 minutes
#                                      of both cores on a 2-core machine)
# The result is CACHE/qt6-mingw, with the CMake toolchain file it was built
# with as CACHE/qt6-mingw/mingw-toolchain.cmake; the sources and the build
# stay in CACHE/qt6-mingw-src until it succeeds, so that a second run goes on
# where the first stopped.
set -euo pipefail
cache=$(mkdir -p "$1" && cd "$1" && pwd)
prefix="$cache/qt6-mingw"
work="$cache/qt6-mingw-src"
mkdir -p "$work"
cd "$work"

# Debian's source packages: deb-src lines for Debian 12 when there are none.
if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat > /etc/apt/sources.list.d/quobin-debian-src.sources <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi
apt-get update -q
DEBIAN_FRONTEND=noninteractive apt-get install -y -q mingw-w64 g++-mingw-w64-x86-64-posix ninja-build cmake tcl \
    qt6-base-dev qt6-base-dev-tools xz-utils dpkg-dev
[ -f qt6-base_6.4.2+dfsg.orig.tar.xz ] && [ -f sqlite3_3.40.1.orig.tar.xz ] \
    || apt-get source --download-only qt6-base sqlite3

# The SQLite amalgamation, from Debian's source.
if [ ! -f sqlite3-3.40.1/bld/sqlite3.c ]; then
    rm -rf sqlite3-3.40.1
    tar xf sqlite3_3.40.1.orig.tar.xz
    (cd sqlite3-3.40.1 && mkdir -p bld && cd bld && ../configure >/dev/null && make sqlite3.c >/dev/null)
fi

if [ ! -d qtbase-everywhere-src-6.4.2 ]; then
    tar xf qt6-base_6.4.2+dfsg.orig.tar.xz
fi
cd qtbase-everywhere-src-6.4.2
mkdir -p src/3rdparty/sqlite
cp ../sqlite3-3.40.1/bld/sqlite3.c ../sqlite3-3.40.1/bld/sqlite3.h src/3rdparty/sqlite/

cat > "$work/mingw-toolchain.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
TC

mkdir -p build
cd build
if [ ! -f build.ninja ]; then
    ../configure -prefix "$prefix" -release -static -static-runtime \
        -xplatform win32-g++ -qt-host-path /usr \
        -nomake examples -nomake tests \
        -no-opengl -no-dbus -no-icu -no-fontconfig -no-glib \
        -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre -qt-sqlite \
        -no-openssl -no-feature-tabletevent -no-feature-printsupport -no-feature-xml -no-feature-concurrent \
        -no-feature-sql-psql -no-feature-sql-mysql -no-feature-sql-odbc -no-feature-sql-ibase \
        -no-feature-sql-oci -no-feature-sql-db2 \
        -- -DCMAKE_TOOLCHAIN_FILE="$work/mingw-toolchain.cmake" -G Ninja \
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQt6HostInfo_DIR=/usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo
fi
nice cmake --build . --parallel "$(nproc)"
cmake --install .
cp "$work/mingw-toolchain.cmake" "$prefix/mingw-toolchain.cmake"
rm -rf "$work"
echo "Qt for mingw built into $prefix"
