#!/bin/sh
# Writes quobin.desktop beside this script, for the folder it stands in:
# a desktop entry needs absolute paths, so run it again after moving the
# folder. Copy the entry to ~/.local/share/applications to list the program
# in the desktop's menu.
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
echo "Wrote $dir/quobin.desktop"
