#!/usr/bin/env bash
# Runs the game headless on the null audio device, as on a machine without a
# sound card, with a half-second piece of music beside it, and checks that
# the music kept going: it passes its end again and again and still plays
# when the run ends by itself.
set -u
game=$1
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
# The program takes its files from its own folder.
cp "$game" "$folder/tarvolenix"
mkdir "$folder/se"
timeout 60 ffmpeg -nostdin -v error -y -f lavfi -i "sine=frequency=440:duration=0.5" -ac 2 -b:a 128k \
  "$folder/se/play.mp3" </dev/null || { echo "ffmpeg could not make the music"; exit 1; }
# Its own single-instance lock, apart from other runs of the game.
output=$(XDG_RUNTIME_DIR=$folder ORVA_WINDOW=headless ORVA_AUDIO=null timeout 60 "$folder/tarvolenix" --frames 180 2>&1)
status=$?
echo "$output" | grep "^frame"
[ "$status" -eq 0 ] || { echo "game exited with $status"; echo "$output" | tail -20; exit 1; }
last=$(echo "$output" | grep "^frame" | tail -1)
passes=$(echo "$last" | sed -n 's/.*music \([0-9][0-9]*\)$/\1/p')
[ -n "$passes" ] || { echo "the music is not playing at the end: $last"; exit 1; }
# Three seconds of play hold six passes; a loaded machine runs longer, not shorter.
[ "$passes" -ge 4 ] || { echo "the music stood still: pass $passes after three seconds"; exit 1; }
echo "music in its pass $passes after 180 frames"
