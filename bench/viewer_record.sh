#!/bin/bash
# Recording through the real viewer (minutes, not for the test suite): a live simulated camera on a
# virtual X server, recorded with the record button for SECONDS, then a second recording during
# which the viewer is killed with SIGKILL. For each file: what nrraw reads from it, against the
# camera's rate in the status bar and the wall-clock time the recording ran. Needs Xvfb, xdotool.
# usage: bench/viewer_record.sh [BUILD] [SECONDS] [SERIAL]
set -u
build=$(realpath "${1:-build/release}")
seconds=${2:-60}
serial=${3:-SIM-DVS-0020}
nrraw=$build/bin/nrraw
. "$(dirname "$(realpath "$0")")/viewer_session.sh"

record_button() { xdotool mousemove $((X + 259)) $((Y + HEIGHT - 57)) click 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }
newest() { ls -t "$work"/recordings/*.raw 2> /dev/null | head -1; }
# mean of the status bar's event rate (MEv/s) over the lines since line $1 of the stats
camera_rate() { tail -n +"$1" "$work/stats.txt" | grep -o 'Events: [0-9.]*' | awk '{s += $2; n++} END {printf "%.2f", s / n}'; }
report() { # file, wall-clock ms the recording ran, camera rate
  local info events span gap
  info=$("$nrraw" info "$1") || { echo "RESULT $2 ms: nrraw cannot read $1"; return; }
  events=$(sed -n 's/^events: //p' <<< "$info")
  span=$(sed -n 's/^duration: \([0-9]*\) us.*/\1/p' <<< "$info")
  gap=$(sed -n 's/^largest gap: //p' <<< "$info")
  echo "RESULT $(du -m "$1" | cut -f1) MB, $events events over $((span / 1000)) ms of camera time;" \
    "recording ran $2 ms by the wall clock; camera rate $3 MEv/s: expected about" \
    "$(awk -v r="$3" -v s="$span" 'BEGIN {printf "%.0f", r * s}') events;" \
    "mean in the file $(awk -v e="$events" -v s="$span" 'BEGIN {printf "%.2f", e / s}') MEv/s; largest gap $gap"
}

echo "== $serial: recording for $seconds s, load average $(cut -d' ' -f1 /proc/loadavg)"
mark=$(wc -l < "$work/stats.txt")
t0=$(now_ms)
record_button
sleep "$seconds"
record_button
t1=$(now_ms)
sleep 5 # the camera finishes the file
file=$(newest)
[ -z "$file" ] && { echo "no recording was written"; exit 1; }
report "$file" $((t1 - t0)) "$(camera_rate "$mark")"
rm -f "$file"

kill_after=$((seconds / 3 + 1))
echo "== killing the viewer with SIGKILL $kill_after s into a recording"
mark=$(wc -l < "$work/stats.txt")
t0=$(now_ms)
record_button
sleep "$kill_after"
kill -9 $pid
t1=$(now_ms)
wait $pid 2> /dev/null
file=$(newest)
[ -z "$file" ] && { echo "no recording was written"; exit 1; }
report "$file" $((t1 - t0)) "$(camera_rate "$mark")"
