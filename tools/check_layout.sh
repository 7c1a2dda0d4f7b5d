#!/bin/sh
# Checks that every include under src/ points downward: a room may include its
# own headers and those of the rooms below it, never those above. include/
# holds the records every room shares and includes no room at all.
# Usage: tools/check_layout.sh [source root]; exits 1 and names each file that breaks the order.
set -eu
root=${1:-$(dirname "$0")/..}
cd "$root"

# The rooms, top first.
rooms="cli driver palette avi gif rle8 rmfile io state platform"

rank() {
    n=0
    for room in $rooms; do
        [ "$room" = "$1" ] && { echo $n; return; }
        n=$((n + 1))
    done
    echo -1
}

status=0
for file in $(find src include -name '*.h' -o -name '*.cpp' | sort); do
    case $file in
        include/*) own=include ;;
        src/*/*) own=$(echo "$file" | cut -d/ -f2) ;;
        *) echo "$file: outside every room"; status=1; continue ;;
    esac
    own_rank=$(rank "$own")
    if [ "$own" != include ] && [ "$own_rank" -lt 0 ]; then
        echo "$file: src/$own is not a room of the order ($rooms)"
        status=1
        continue
    fi
    for target in $(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file"); do
        case $target in
            */*) room=${target%%/*} ;;
            *) [ -f "include/$target" ] && continue
               echo "$file: includes \"$target\", which is in no room"; status=1; continue ;;
        esac
        if [ "$own" = include ]; then
            echo "$file: a shared record includes \"$target\""
            status=1
            continue
        fi
        target_rank=$(rank "$room")
        if [ "$target_rank" -lt "$own_rank" ]; then
            echo "$file: includes \"$target\", from a room above src/$own"
            status=1
        fi
    done
done
exit $status
