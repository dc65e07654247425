#!/usr/bin/env bash
# The relink kit keeps the licence's offer: unpacked on its own, it links
# quobin-cli.exe again with the toolchain's Qt, and the program it makes is
# the size of the one shipped, needs only Windows' own DLLs, and uploads
# under Wine byte for byte.
#   relink_under_wine.sh KIT_ZIP QT_DIR SHIPPED_EXE_DIR VANTOR_SIM
set -uo pipefail
kit_zip=$1
qt_dir=$2
shipped=$3
QUOBIN_SIM=$4
source "$(dirname "$0")/wine_lib.sh"
[ -f "$kit_zip" ] || fail "no relink kit at $kit_zip: build the target windows-packages"
[ "$kit_zip" -nt "$shipped/quobin-cli.exe" ] \
    || fail "the relink kit $kit_zip is older than $shipped/quobin-cli.exe: build the target windows-packages"
wine_setup

echo "== the kit, unpacked alone, relinks quobin-cli.exe"
mkdir -p "$work/kit"
unzip -q "$kit_zip" -d "$work/kit" || fail "the kit does not unpack"
kit=$(echo "$work"/kit/*/)
for file in README.txt relink.sh qt/build-qt-mingw.sh qt/build-libpq-mingw.sh; do
    [ -f "$kit/$file" ] || fail "the kit has no $file"
done
# Nothing in it names the folder it was made in.
grep -rqF "$(dirname "$(dirname "$shipped")")" "$kit/relink.sh" && fail "relink.sh names the build's own folders"
(cd "$work" && sh "$kit/relink.sh" "$qt_dir" quobin-cli) >"$work/relink.log" 2>&1 \
    || fail "relink.sh failed: $(tail -20 "$work/relink.log")"
relinked="$kit/out/quobin-cli.exe"
[ -f "$relinked" ] || fail "relink.sh made no out/quobin-cli.exe: $(cat "$work/relink.log")"
[ "$(stat -c %s "$relinked")" -eq "$(stat -c %s "$shipped/quobin-cli.exe")" ] \
    || fail "the relinked program is $(stat -c %s "$relinked") bytes, the shipped one $(stat -c %s "$shipped/quobin-cli.exe")"
sh "$kit/relink.sh" "$qt_dir" quobin-cli-not >/dev/null 2>&1 && fail "relink.sh took an unknown program"

echo "== the relinked program needs only Windows' own DLLs"
# Windows' own DLLs are those that Wine's system32 holds, and the API sets
# (api-ms-win-*) that Windows maps onto them.
x86_64-w64-mingw32-objdump -p "$relinked" | awk '/DLL Name:/ { print tolower($3) }' | sort -u >"$work/dlls"
[ -s "$work/dlls" ] || fail "objdump found no imports in $relinked"
while read -r dll; do
    case "$dll" in api-ms-win-*) continue ;; esac
    [ -e "$WINEPREFIX/drive_c/windows/system32/$dll" ] || fail "it needs $dll, which is not Windows' own"
done <"$work/dlls"

echo "== it uploads under Wine byte for byte"
QUOBIN_EXE_DIR="$kit/out"
firmware="$work/firmware.hex"
"$QUOBIN_SIM" --write-sample "$firmware" --records 200 >/dev/null || fail "no sample firmware"
start_sim 3 --version 1.28 --record-dir "$work/rec3" --exit-after-upload
cli upload --port 3 --json "$(win_path "$firmware")"
expect_status 0 "upload with the relinked quobin-cli.exe"
wait "$sim_pid"
cmp <(crlf_lines "$firmware") "$work/rec3/board-1.hex" || fail "the board's flash differs from the file"

echo "PASS"
