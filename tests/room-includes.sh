#!/usr/bin/env bash
# The rooms of src/ include only from themselves and from the rooms before them, in this order:
# bytes, platform, compressed, extract, console.   room-includes.sh SRC-FOLDER
set -euo pipefail
cd "$1"
declare -A rank=([bytes]=1 [platform]=2 [compressed]=3 [extract]=4 [console]=5)
bad=0
for file in */*.cpp */*.hpp; do
    room=${file%%/*}
    [ -n "${rank[$room]:-}" ] || { echo "FAILED: $file is in no known room" >&2 && bad=1 && continue; }
    for included in $(sed -n 's|^#include "\([a-z_]\+\)/.*|\1|p' "$file"); do
        [ "${rank[$included]:-9}" -le "${rank[$room]}" ] ||
            { echo "FAILED: $file includes from $included/, a room above $room/" >&2 && bad=1; }
    done
done
[ "$bad" = 0 ] && echo "every include goes to the same room or one below it"
exit "$bad"
