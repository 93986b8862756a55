#!/usr/bin/env bash
# Starts the game in a real window (under Xvfb), takes a screenshot while it
# runs, and checks that it drew its side panel and field and then ended by
# itself with status 0.
set -u
game=$1
shot=$(mktemp --suffix=.png)
trap 'rm -f "$shot"' EXIT
"$game" --frames 240 >/dev/null 2>&1 &
pid=$!
sleep 2
import -window root "$shot" || { echo "no screenshot"; kill "$pid"; exit 1; }
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { echo "game exited with $status"; exit 1; }
# The window is centred on the screen: find it by the panel colour.
size=$(identify -format '%w %h' "$shot")
read -r sw sh <<<"$size"
left=$(( (sw - 640) / 2 )); top=$(( (sh - 480) / 2 ))
panel=$(convert "$shot" -format "%[hex:p{$((left + 60)),$((top + 240))}]" info:)
field=$(convert "$shot" -format "%[hex:p{$((left + 320)),$((top + 470))}]" info:)
echo "panel $panel field $field"
[ "${panel:0:6}" = "283040" ] || { echo "side panel not drawn"; exit 1; }
[ "${field:0:6}" != "283040" ] || { echo "field not drawn"; exit 1; }
exit 0
