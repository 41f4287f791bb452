#!/bin/bash
# Load runs of the cameras (minutes, not for the test suite):
#  1. a 60 s recording at 20 Mev/s: the file must hold exactly the events the camera reports,
#     memory must stay flat (SECONDS 0 leaves it out);
#  2. recordings killed with SIGKILL after 5 s (KILLS, default 10), of a DVS camera and of a fusion
#     camera, both at 20 Mev/s: each file (and the fusion camera's video) must open. The loss is
#     the camera time at the kill less the last event in the file: for the DVS camera against the
#     last camera time nrraw reported (ten times a second, so up to 0.1 s before the kill), and for
#     both against the camera clock at the kill itself (the clock runs with the wall clock from
#     the log line "streams; its clock starts at 0"; a camera that lags the clock on a busy
#     machine counts its lag as loss, so this figure is the stricter one).
# Usage: bench/camera_load.sh [BUILD_DIR] [SECONDS]   (default build/release, 60)
set -u
build=${1:-build/release}
seconds=${2:-60}
nrraw=$build/bin/nrraw
work=$(mktemp -d /tmp/norvale_camera_load_XXXXXX)
trap 'rm -rf "$work"' EXIT
export NORVALE_SIMULATED_CAMERAS=$work/none.json

# biases for about 24 Mev/s, event rate control holds it at 20 (the DVS and the fusion camera alike)
cat > "$work/20mev.json" <<'JSON'
{"Biases": {"bias_diff_on": -75, "bias_diff_off": -75},
 "EventRateControl": {"event_rate_control_enable": true, "max_event_rate": 20000},
 "TirggerIn": {"channel_0_enable": true}}
JSON

if [ "$seconds" != 0 ]; then
echo "== $seconds s recording at 20 Mev/s"
/usr/bin/time -f "peak memory: %M KiB, CPU: %U s user %S s system, wall %e s" \
  "$nrraw" record SIM-DVS-0001 "$work/long.raw" --seconds "$seconds" --config "$work/20mev.json" > "$work/out.txt" 2> "$work/err.txt"
rc=$?
cat "$work/err.txt" | grep -v "^nrraw: \[info\]"
reported=$(sed -n 's/^events: //p' "$work/out.txt")
"$nrraw" info "$work/long.raw" > "$work/info.txt"
infile=$(sed -n 's/^events: //p' "$work/info.txt")
grep -E "^(first|last) timestamp|^mean|^peak|^triggers" "$work/info.txt"
echo "file size: $(stat -c %s "$work/long.raw") bytes"
echo "reported: $reported, in the file: $infile, exit: $rc"
if [ "$rc" = 0 ] && [ -n "$reported" ] && [ "$reported" = "$infile" ]; then echo "RESULT long: no event lost"; else echo "RESULT long: MISMATCH"; fi
rm -f "$work/long.raw"
fi

. "$(dirname "$(realpath "$0")")/recording_figures.sh"
kills=${KILLS:-10}
# Each line of standard error with the wall-clock time it arrived (seconds, microseconds).
stamp() { while IFS= read -r line; do printf '%s %s\n' "$EPOCHREALTIME" "$line"; done; }
# kill_runs SERIAL NAME: KILLS recordings of SERIAL to $work/NAME killed after 5 s.
kill_runs() {
  local serial=$1 name=$2 worst=0 worst_clock=0 k i pid t_kill t_zero last reached events lost lost_clock
  local fusion=0 out=$work/$2 raw=$work/$2
  [ "$name" = fusion ] && fusion=1 raw=$out.raw
  echo "== $serial: $kills recordings at 20 Mev/s killed with SIGKILL after 5 s (load average $(cut -d' ' -f1 /proc/loadavg))"
  for k in $(seq "$kills"); do
    rm -f "$out" "$out".*
    "$nrraw" record "$serial" "$out" --seconds 30 --config "$work/20mev.json" --progress > /dev/null 2> >(stamp > "$work/err2.txt") &
    pid=$!
    for i in $(seq 200); do grep -q "^[0-9.]* recording " "$work/err2.txt" 2> /dev/null && break; sleep 0.05; done
    sleep 5
    t_kill=$EPOCHREALTIME
    kill -9 $pid
    wait $pid 2> /dev/null
    sleep 0.2 # the last lines reach err2.txt
    if ! "$nrraw" info "$raw" > "$work/info2.txt"; then echo "RESULT kill $k: the file does not open"; worst=999999; continue; fi
    last=$(sed -n 's/^last timestamp: \([0-9]*\) us/\1/p' "$work/info2.txt")
    events=$(sed -n 's/^events: //p' "$work/info2.txt")
    t_zero=$(grep -m1 "streams; its clock starts at 0" "$work/err2.txt" | cut -d' ' -f1)
    if [ -z "$last" ] || [ -z "$t_zero" ]; then echo "RESULT kill $k: no figures"; worst=999999; continue; fi
    # the camera clock at the kill, in us
    at_kill=$(awk -v a="$t_zero" -v b="$t_kill" 'BEGIN {printf "%.0f", (b - a) * 1e6}')
    lost_clock=$(( at_kill > last ? (at_kill - last) / 1000 : 0 ))
    line="kill $k: $events events, last at $last us; clock at the kill $at_kill us: $lost_clock ms lost"
    if [ $fusion = 0 ]; then
      # the camera time it had reported last (ten times a second)
      reached=$(sed -n 's/^[0-9.]* progress: \([0-9]*\) us.*/\1/p' "$work/err2.txt" | tail -1)
      [ -z "$reached" ] && { echo "RESULT kill $k: no progress reported"; worst=999999; continue; }
      lost=$(( reached > last ? (reached - last) / 1000 : 0 ))
      line="$line; last reported $reached us: $lost ms lost"
      [ "$lost" -gt "$worst" ] && worst=$lost
    else
      # the APS video under its final name: our reader and FFmpeg's must both read it
      if "$nrraw" aps-info "$out.mp4" > "$work/aps.txt" 2>&1 &&
         decoded=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$out.mp4") &&
         [ "${decoded:-0}" -gt 0 ]; then
        line="$line; $(video_figures "$work/info2.txt" "$decoded")"
      else
        line="$line; THE VIDEO DOES NOT OPEN"
        worst=999999
      fi
      [ -f "$out.json" ] || line="$line; no calibration file"
    fi
    echo "$line"
    [ "$lost_clock" -gt "$worst_clock" ] && worst_clock=$lost_clock
  done
  if [ "$worst" -le 500 ] && [ "$worst_clock" -le 500 ]; then
    echo "RESULT kill $serial: worst loss $worst_clock ms against the clock at the kill$([ $fusion = 0 ] && echo ", $worst ms against the camera time last reported")"
  else
    echo "RESULT kill $serial: MORE LOST OR A FILE DOES NOT OPEN (worst $worst ms reported, $worst_clock ms against the clock)"
  fi
}
kill_runs SIM-DVS-0001 dvs.raw
kill_runs SIM-FUS-0001 fusion
