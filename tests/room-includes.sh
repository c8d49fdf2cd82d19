#!/usr/bin/env bash
# The rooms of src/ include only from themselves and from the rooms below
# them: bytes, platform, compressed, extract, console, in that order.
# Usage: room-includes.sh SRC-FOLDER
set -euo pipefail
cd "$1"
rooms=(bytes platform compressed extract console)
rank() { local at; for at in "${!rooms[@]}"; do [ "${rooms[$at]}" = "$1" ] && echo "$at" && return; done; echo 99; }
bad=0
for file in */*.cpp */*.hpp; do
    room=${file%%/*}
    [ "$(rank "$room")" != 99 ] || { echo "FAILED: $file is in no known room" >&2; bad=1; continue; }
    while IFS= read -r included; do
        if [ "$(rank "$included")" -gt "$(rank "$room")" ]; then
            echo "FAILED: $file includes from $included/, a room above $room/" >&2
            bad=1
        fi
    done < <(sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' "$file")
done
[ "$bad" = 0 ] && echo "every include goes to the same room or one below it"
exit "$bad"
