#!/usr/bin/env bash
# Builds PostgreSQL's client library for 64-bit Windows (x86_64-w64-mingw32,
# static, with TLS through OpenSSL) and Qt's PostgreSQL driver plugin against
# the static Qt that scripts/lib/build-qt-mingw.sh makes, from Debian 12's own
# source packages openssl (3.0.x), postgresql-15 (15.x) and qt6-base (6.4.2,
# for the plugin's sources), when the prebuilt archive
# (../shared/toolchains/qt6-mingw-6.4.2-postgresql.tar.xz) is not at hand.
# Usage: build-libpq-mingw.sh QT_PREFIX OUT_PREFIX [WORKDIR]
#                         (as root, for apt-get; about 5 minutes on 2 cores)
#   QT_PREFIX   the Qt for mingw folder (the plugin is installed into it too)
#   OUT_PREFIX  where libpq, its headers and OpenSSL's static libraries go
set -euo pipefail
qt=$(realpath "$1"); out=$(realpath -m "$2")
work=${3:-$(mktemp -d /tmp/pq-mingw.XXXX)}
mkdir -p "$work" "$out" && cd "$work"
if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    cat > /etc/apt/sources.list.d/quobin-debian-src.sources <<SRC
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi
apt-get update -q >/dev/null
apt-get install -y -q mingw-w64 g++-mingw-w64-x86-64-posix ninja-build cmake perl bison flex qt6-base-dev qt6-base-dev-tools >/dev/null
ls openssl_*.orig.tar.gz postgresql-15_*.orig.tar.bz2 qt6-base_*.orig.tar.xz >/dev/null 2>&1 || apt-get source --download-only openssl postgresql-15 qt6-base >/dev/null
host=x86_64-w64-mingw32
export CC=$host-gcc-posix AR=$host-ar RANLIB=$host-ranlib

# OpenSSL: static libraries only
tar xf openssl_*.orig.tar.gz
(cd openssl-*/ && ./Configure mingw64 --cross-compile-prefix= --prefix="$out" --libdir=lib \
    no-shared no-tests no-engine no-module no-legacy >/dev/null \
  && make -j"$(nproc)" build_libs >/dev/null && make install_dev >/dev/null)

# libpq: the client library alone, static, TLS through that OpenSSL
tar xf postgresql-15_*.orig.tar.bz2
cd postgresql-15*/
./configure --host=$host --prefix="$out" --with-ssl=openssl --without-readline --without-zlib --without-icu \
    --without-gssapi --without-ldap CPPFLAGS="-I$out/include" LDFLAGS="-L$out/lib" \
    LIBS="-lssl -lcrypto -lws2_32 -lcrypt32 -lsecur32 -lgdi32 -luser32 -ladvapi32" >/dev/null
make -C src/include >/dev/null
make -C src/common -j"$(nproc)" >/dev/null
make -C src/port -j"$(nproc)" >/dev/null
make -C src/interfaces/libpq -j"$(nproc)" >/dev/null
# On Windows the build's libpq.a is the import library of libpq.dll: make a static archive from the objects
# instead, leaving out the DLL's resources. libpq brings its own small pthread functions for Windows, which
# would clash with winpthreads' (mingw's posix threads): they are renamed pq_pthread_* in libpq's objects.
install -d "$out/include/libpq" "$out/lib" objs
(cd src/interfaces/libpq && x86_64-w64-mingw32-nm pthread-win32.o | awk '$2=="T"{print $3" pq_"$3}') > redefine.txt
for o in src/interfaces/libpq/*.o; do
    case "$(basename "$o")" in libpqrc.o|win32ver.o) continue ;; esac
    x86_64-w64-mingw32-objcopy --redefine-syms=redefine.txt "$o" "objs/$(basename "$o")"
done
rm -f "$out/lib/libpq.a" && x86_64-w64-mingw32-ar crs "$out/lib/libpq.a" objs/*.o
install -m644 src/common/libpgcommon_shlib.a src/port/libpgport_shlib.a "$out/lib/"
install -m644 src/include/postgres_ext.h src/include/pg_config_ext.h src/include/pg_config.h src/include/pg_config_manual.h src/include/pg_config_os.h src/interfaces/libpq/libpq-fe.h \
    src/interfaces/libpq/libpq-events.h "$out/include/"
install -m644 src/include/libpq/libpq-fs.h "$out/include/libpq/"
cd "$work"

# Qt's PostgreSQL driver, static, into the Qt folder
tar xf qt6-base_*.orig.tar.xz qtbase-everywhere-src-6.4.2/src/plugins/sqldrivers \
    qtbase-everywhere-src-6.4.2/cmake 2>/dev/null || tar xf qt6-base_*.orig.tar.xz
mkdir -p sqldrivers-build && cd sqldrivers-build
"$qt/bin/qt-cmake" -G Ninja "$work/qtbase-everywhere-src-6.4.2/src/plugins/sqldrivers" \
    -DCMAKE_INSTALL_PREFIX="$qt" -DQT_CHAINLOAD_TOOLCHAIN_FILE="$qt/mingw-toolchain.cmake" -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DFEATURE_sql_psql=ON -DFEATURE_sql_sqlite=OFF -DFEATURE_sql_odbc=OFF -DFEATURE_sql_mysql=OFF \
    -DPostgreSQL_INCLUDE_DIR="$out/include" -DPostgreSQL_LIBRARY="$out/lib/libpq.a" > configure.log
grep -q "PostgreSQL .* yes" configure.log || { grep -i postgres configure.log; echo "the PostgreSQL driver is not configured" >&2; exit 1; }
cmake --build . --parallel "$(nproc)" > build.log || { tail -20 build.log >&2; exit 1; }
cmake --install . > install.log
# The target that the plugin links, and the plugin's dependency file that defines it wherever Qt6Sql is found
cat > "$out/PostgreSQLTarget.cmake" <<'CM'
# PostgreSQL::PostgreSQL for the static Qt PostgreSQL driver plugin (Qt6::QPSQLDriverPlugin) of this toolchain:
# libpq 15 and OpenSSL 3.0, static, and the Windows libraries they call. Include it before linking the plugin.
if(NOT TARGET PostgreSQL::PostgreSQL)
    get_filename_component(_pq "${CMAKE_CURRENT_LIST_DIR}" ABSOLUTE)
    add_library(PostgreSQL::PostgreSQL STATIC IMPORTED GLOBAL)
    set_target_properties(PostgreSQL::PostgreSQL PROPERTIES
        IMPORTED_LOCATION "${_pq}/lib/libpq.a"
        INTERFACE_INCLUDE_DIRECTORIES "${_pq}/include"
        INTERFACE_LINK_LIBRARIES
            "${_pq}/lib/libpgcommon_shlib.a;${_pq}/lib/libpgport_shlib.a;${_pq}/lib/libssl.a;${_pq}/lib/libcrypto.a;ws2_32;secur32;crypt32;advapi32;user32;gdi32;shell32;wldap32")
    unset(_pq)
endif()
CM
rel=$(realpath --relative-to="$qt/lib/cmake/Qt6Sql" "$out")
cat > "$qt/lib/cmake/Qt6Sql/Qt6QPSQLDriverPluginDependencies.cmake" <<CM
# The PostgreSQL driver plugin links libpq and OpenSSL from this toolchain's postgresql/ folder.
include("\${CMAKE_CURRENT_LIST_DIR}/$rel/PostgreSQLTarget.cmake")
set(QPSQLDriverPlugin_FOUND TRUE)
CM
cp "$work"/openssl-*/LICENSE.txt "$out/LICENSE-OpenSSL.txt"
cp "$work"/postgresql-15*/COPYRIGHT "$out/COPYRIGHT-PostgreSQL.txt"
echo "libpq and OpenSSL in $out; the QPSQL plugin in $qt/plugins/sqldrivers"
