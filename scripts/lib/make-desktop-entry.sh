#!/bin/sh
# Writes quobin.desktop and quobin-station.desktop beside this script, for the folder it stands in:
# a desktop entry needs absolute paths, so run it again after moving the
# folder. Copy the entries to ~/.local/share/applications to list the
# programs in the desktop's menu.
set -eu
dir=$(cd "$(dirname "$0")" && pwd)
cat >"$dir/quobin.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quobin
Comment=Writes firmware into a Vantor controller over a serial port
Exec="$dir/quobin"
Path=$dir
Icon=$dir/quobin.ico
Terminal=false
Categories=Development;Electronics;
ENTRY
cat >"$dir/quobin-station.desktop" <<ENTRY
[Desktop Entry]
Type=Application
Name=Quobin Station
Comment=Flashes board after board on every slot of a fixture, with a record of each
Exec="$dir/quobin-station"
Path=$dir
Icon=$dir/quobin-station.png
Terminal=false
Categories=Development;Electronics;
ENTRY
echo "Wrote $dir/quobin.desktop and $dir/quobin-station.desktop"
