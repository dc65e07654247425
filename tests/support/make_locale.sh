#!/bin/sh
# make_locale.sh NAME DIR: compiles the locale NAME (e.g. de_DE.UTF-8) into
# DIR/NAME, for a run with LOCPATH=DIR LC_ALL=NAME. The machine's own
# locales are left alone. The sources come with Debian's locales package.
set -eu
name="$1"
dir="$2"
input="${name%%.*}"
charmap="${name#*.}"
[ "$charmap" != "$name" ] || charmap=UTF-8
if [ ! -f "/usr/share/i18n/locales/$input" ]; then
    echo "make_locale.sh: no source for the locale $input; install Debian's locales package" >&2
    exit 1
fi
[ -f "$dir/$name/LC_NUMERIC" ] && exit 0
mkdir -p "$dir"
# localedef exits 1 on mere warnings; what counts is the compiled result.
localedef -i "$input" -f "$charmap" "$dir/$name" || true
if [ ! -f "$dir/$name/LC_NUMERIC" ]; then
    echo "make_locale.sh: localedef made no locale $name in $dir" >&2
    exit 1
fi
