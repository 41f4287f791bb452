#!/bin/bash
# Load runs of the cameras (minutes, not for the test suite):
#  1. a 60 s recording at 20 Mev/s: the file must hold exactly the events the camera reports,
#     memory must stay flat;
#  2. recordings killed with SIGKILL after 5 s (KILLS, default 5): each file must open; the worst
#     loss against the last camera time reported is printed (at most 0.5 s passes).
# Usage: bench/camera_load.sh [BUILD_DIR] [SECONDS]   (default build/release, 60)
set -u
build=${1:-build/release}
seconds=${2:-60}
nrraw=$build/bin/nrraw
work=$(mktemp -d /tmp/norvale_camera_load_XXXXXX)
trap 'rm -rf "$work"' EXIT
export NORVALE_SIMULATED_CAMERAS=$work/none.json

# biases for about 24 Mev/s, event rate control holds it at 20
cat > "$work/20mev.json" <<'JSON'
{"Biases": {"bias_diff_on": -75, "bias_diff_off": -75},
 "EventRateControl": {"event_rate_control_enable": true, "max_event_rate": 20000},
 "TirggerIn": {"channel_0_enable": true}}
JSON

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

kills=${KILLS:-5}
echo "== $kills recordings killed with SIGKILL after 5 s"
worst=0
for k in $(seq "$kills"); do
  rm -f "$work/killed.raw"
  "$nrraw" record SIM-DVS-0001 "$work/killed.raw" --seconds 30 --config "$work/20mev.json" --progress > /dev/null 2> "$work/err2.txt" &
  pid=$!
  for i in $(seq 100); do grep -q "^recording" "$work/err2.txt" && break; sleep 0.05; done
  sleep 5
  kill -9 $pid
  wait $pid 2> /dev/null
  if ! "$nrraw" info "$work/killed.raw" > "$work/info2.txt"; then echo "RESULT kill $k: the file does not open"; worst=999999; continue; fi
  last=$(sed -n 's/^last timestamp: \([0-9]*\) us/\1/p' "$work/info2.txt")
  # the camera time it had reached (reported ten times a second; the last report is at most 0.1 s old)
  reached=$(sed -n 's/^progress: \([0-9]*\) us.*/\1/p' "$work/err2.txt" | tail -1)
  events=$(sed -n 's/^events: //p' "$work/info2.txt")
  if [ -z "$last" ] || [ -z "$reached" ]; then echo "RESULT kill $k: no figures"; worst=999999; continue; fi
  lost=$(( reached > last ? (reached - last) / 1000 : 0 ))
  echo "kill $k: camera time reached $reached us, last event in the file $last us ($events events): $lost ms lost"
  [ "$lost" -gt "$worst" ] && worst=$lost
done
if [ "$worst" -le 500 ]; then echo "RESULT kill: worst loss $worst ms"; else echo "RESULT kill: MORE LOST (worst $worst ms)"; fi
