#!/usr/bin/env bash
# Fails when two headers of the source tree define a class or struct of the
# same name in the same namespace. Two such definitions compiled into one
# program break the one-definition rule: each file that includes one of them
# lays the object out its own way, and nothing in the build notices. A class
# that differs between systems keeps one header and differs in its .cpp.
# Counted: a definition at the start of a line (the tree indents nested
# classes, so only a namespace's own classes are there), in the namespace the
# header opens; a forward declaration is no definition.
#   one_class_one_header.sh SOURCE_DIR
set -euo pipefail
root=$1
folders=()
for folder in "$root"/*/; do
    name=$(basename "$folder")
    case "$name" in build* | .*) continue ;; esac
    folders+=("$folder")
done
classes=$(mktemp)
trap 'rm -f "$classes"' EXIT
find "${folders[@]}" -name '*.h' -type f -print0 | sort -z | xargs -0 awk '
    FNR == 1 { ns = "" }
    /^namespace [A-Za-z_:]+[ \t]*\{/ { ns = $2 }
    /^}([ \t]*\/\/.*)?[ \t]*$/ { ns = "" }
    /^(class|struct)[ \t]+[A-Za-z_]/ && !/;[ \t]*$/ {
        name = $2
        sub(/[^A-Za-z0-9_].*/, "", name)
        print ns "::" name "\t" FILENAME
    }' >"$classes"
duplicates=$(cut -f1 "$classes" | sort | uniq -d)
if [ -n "$duplicates" ]; then
    echo "FAIL: classes defined in more than one header:"
    for class in $duplicates; do
        echo "  $class:"
        awk -F'\t' -v class="$class" '$1 == class { print "    " $2 }' "$classes" | sed "s|$root/||"
    done
    exit 1
fi
echo "PASS: $(wc -l <"$classes") classes, each defined in one header"
