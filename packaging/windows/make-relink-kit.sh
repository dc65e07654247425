#!/usr/bin/env bash
# Makes the relink kit of the Windows programs: their own object files and
# static libraries, the command that links each of them (as the build ran
# it, with the Qt folder and the compiler left for the caller to name), and
# a README. With it, anyone can relink quobin.exe, quobin-cli.exe and
# quobin-station.exe with another build of Qt, as the licence offers.
#   make-relink-kit.sh BUILD_DIR QT_DIR ZIP README_IN VERSION
# BUILD_DIR is a Ninja build of the programs, QT_DIR the Qt they were linked
# with; the kit is written to ZIP, with the scripts that build that Qt.
set -euo pipefail
build=$(cd "$1" && pwd)
qt=$(cd "$2" && pwd)
zip_file=$(realpath -m "$3")
readme_in=$4
version=$5
scripts="$(cd "$(dirname "$0")/../../scripts/lib" && pwd)"
programs=(quobin quobin-cli quobin-station)

name=$(basename "$zip_file" .zip)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
kit="$stage/$name"
mkdir -p "$kit/objects"

# One link command: the build's own files are copied into objects/ under the
# paths the build gave them; Qt's files are named from "$QT"; the compiler is
# "$CXX"; the import library that the build asks for is not needed.
link_command() {
    local program=$1 command token out=()
    command=$(ninja -C "$build" -t commands "bin/$program.exe" | tail -n 1)
    command=${command#: && }
    command=${command% && :}
    for token in $command; do
        case "$token" in
            */x86_64-w64-mingw32-g++*) out+=('"$CXX"') ;;
            "$qt"/*) out+=("\"\$QT${token#"$qt"}\"") ;;
            -Wl,--out-implib,*) ;;
            "bin/$program.exe") out+=("\"\$OUT/$program.exe\"") ;;
            /*) echo "make-relink-kit.sh: $program links $token, which is neither the build's nor Qt's" >&2
                exit 1 ;;
            -*) out+=("$token") ;;
            *)
                [ -f "$build/$token" ] || { echo "make-relink-kit.sh: $program: no $build/$token" >&2; exit 1; }
                mkdir -p "$kit/objects/$(dirname "$token")"
                cp "$build/$token" "$kit/objects/$token"
                out+=("\"objects/$token\"")
                ;;
        esac
    done
    printf '%s' "${out[*]}"
}

{
    cat <<'HEAD'
#!/bin/sh
# Relinks the Quobin programs for Windows with another build of Qt.
#   sh relink.sh QT_DIR [PROGRAM...]
# QT_DIR is a static Qt 6.4 for x86_64-w64-mingw32, configured as the one
# these object files were built against (see README.txt); PROGRAM is quobin,
# quobin-cli or quobin-station (all three when none is named). The programs
# are written to out/. CXX names the compiler driver
# (default x86_64-w64-mingw32-g++-posix).
set -eu
[ $# -ge 1 ] || { echo "usage: sh relink.sh QT_DIR [PROGRAM...]" >&2; exit 2; }
QT=$(cd "$1" && pwd)
shift
CXX=${CXX:-x86_64-w64-mingw32-g++-posix}
cd "$(dirname "$0")"
OUT=$(pwd)/out
mkdir -p "$OUT"
[ $# -gt 0 ] || set -- quobin quobin-cli quobin-station
for program in "$@"; do
    echo "Linking $OUT/$program.exe"
    case "$program" in
HEAD
    for program in "${programs[@]}"; do
        printf '        %s)\n            %s\n            ;;\n' "$program" "$(link_command "$program")"
    done
    cat <<'TAIL'
        *) echo "relink.sh: no program $program (quobin, quobin-cli or quobin-station)" >&2; exit 2 ;;
    esac
done
TAIL
} >"$kit/relink.sh"
chmod +x "$kit/relink.sh"
mkdir -p "$kit/qt"
cp "$scripts/build-qt-mingw.sh" "$scripts/build-libpq-mingw.sh" "$kit/qt/"
sed "s/@PROJECT_VERSION@/$version/g" "$readme_in" >"$kit/README.txt"
sed -i 's/$/\r/' "$kit/README.txt"

rm -f "$zip_file"
(cd "$stage" && zip -q -r -X "$zip_file" "$name")
