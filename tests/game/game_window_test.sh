#!/usr/bin/env bash
# Starts the game in a real window (under Xvfb), takes screenshots while it
# runs until one shows its side panel and field, and checks that it then
# ended by itself with status 0.
set -u
game=$1
shot=$(mktemp --suffix=.png)
trap 'rm -f "$shot"' EXIT
"$game" --frames 600 >/dev/null 2>&1 &
pid=$!
panel="" field=""
for attempt in 1 2 3 4 5 6 7 8; do
  sleep 1
  import -window root "$shot" 2>/dev/null || continue
  read -r sw sh <<<"$(identify -format '%w %h' "$shot")"
  # The window is centred on the screen.
  left=$(( (sw - 640) / 2 )); top=$(( (sh - 480) / 2 ))
  panel=$(convert "$shot" -format "%[hex:p{$((left + 60)),$((top + 240))}]" info:)
  field=$(convert "$shot" -format "%[hex:p{$((left + 320)),$((top + 470))}]" info:)
  [ "${panel:0:6}" = "283040" ] && [ "${field:0:6}" != "283040" ] && break
done
echo "panel $panel field $field"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || { echo "game exited with $status"; exit 1; }
[ "${panel:0:6}" = "283040" ] || { echo "side panel not drawn"; exit 1; }
[ "${field:0:6}" != "283040" ] || { echo "field not drawn"; exit 1; }
exit 0
