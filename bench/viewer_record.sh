#!/bin/bash
# Recording through the real viewer (minutes, not for the test suite): a live simulated camera on a
# virtual X server, recorded with the record button for SECONDS (0 leaves this out), then KILLS
# recordings (default 10) during each of which the viewer is killed with SIGKILL 5 s in (and then
# started again). For each file: what nrraw reads from it, against the camera's rate in the status
# bar and the wall-clock time the recording ran; for a killed one, whether it (and a fusion
# camera's video) opens and the camera time lost at its end: the camera clock at the kill (it runs
# with the wall clock from the viewer's log line "streams; its clock starts at 0") less the file's
# last event. Needs Xvfb, xdotool, ffprobe.
# usage: bench/viewer_record.sh [BUILD] [SECONDS] [SERIAL]   (SIM-FUS-0020: a fusion camera at 20 Mev/s)
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

if [ "$seconds" != 0 ]; then
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
fi

# epoch seconds of the last "streams; its clock starts at 0" in the viewer's log ([HH:MM:SS.mmm])
clock_zero() {
  local t z
  t=$(grep "streams; its clock starts at 0" "$work/log.txt" | tail -1 | sed -n 's/^\[\([0-9:.]*\)\].*/\1/p')
  [ -z "$t" ] && return
  z=$(date -d "$(date +%F) $t" +%s.%N)
  # a log line from before midnight
  awk -v z="$z" -v now="$EPOCHREALTIME" 'BEGIN {printf "%.6f", (z > now ? z - 86400 : z)}'
}

. "$(dirname "$(realpath "$0")")/recording_figures.sh"
kills=${KILLS:-10}
echo "== $serial: $kills recordings killed with SIGKILL 5 s in"
worst=0
for k in $(seq "$kills"); do
  [ "$k" -gt 1 ] && start_viewer
  load=$(cut -d' ' -f1 /proc/loadavg)
  record_button
  sleep 5
  t_kill=$EPOCHREALTIME
  kill -9 $pid
  wait $pid 2> /dev/null
  file=$(newest)
  t_zero=$(clock_zero)
  if [ -z "$file" ] || [ -z "$t_zero" ]; then echo "RESULT kill $k: no recording or no clock line"; worst=999999; continue; fi
  if ! "$nrraw" info "$file" > "$work/info.txt"; then echo "RESULT kill $k: $file does not open"; worst=999999; continue; fi
  last=$(sed -n 's/^last timestamp: \([0-9]*\) us/\1/p' "$work/info.txt")
  events=$(sed -n 's/^events: //p' "$work/info.txt")
  at_kill=$(awk -v a="$t_zero" -v b="$t_kill" 'BEGIN {printf "%.0f", (b - a) * 1e6}')
  lost=$(( at_kill > last ? (at_kill - last) / 1000 : 0 ))
  line="kill $k (load $load): $events events, last at $last us; camera clock at the kill $at_kill us: $lost ms lost"
  video=${file%.raw}.mp4
  if [ -e "$video" ] || [[ "$serial" == SIM-FUS-* ]]; then
    if "$nrraw" aps-info "$video" > "$work/aps.txt" 2>&1 &&
       decoded=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$video") &&
       [ "${decoded:-0}" -gt 0 ]; then
      line="$line; $(video_figures "$work/info.txt" "$decoded")"
    else
      line="$line; THE VIDEO DOES NOT OPEN"
      lost=999999
    fi
  fi
  echo "$line"
  [ "$lost" -gt "$worst" ] && worst=$lost
  rm -f "$work"/recordings/*
done
if [ "$worst" -le 500 ]; then echo "RESULT kill: worst loss $worst ms"; else echo "RESULT kill: MORE LOST OR A FILE DOES NOT OPEN (worst $worst ms)"; fi
