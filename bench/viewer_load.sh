#!/bin/bash
# Load run of the viewer (minutes, not for the test suite): a live simulated camera on a virtual X
# server. Every 10 s: images the view received per second, the viewer's CPU use, its resident
# memory and the status bar; every 20 s the time from pressing the Device menu button to its pop-up
# being on screen. Needs Xvfb, xdotool and ImageMagick's import.
# usage: bench/viewer_load.sh [BUILD] [SECONDS] [SERIAL] [VIEW_CLICKS]
#   SERIAL: SIM-DVS-0020 (20 Mev/s), SIM-DVS-0050 (50 Mev/s), SIM-FUS-0001 (fusion camera),
#   NET-0020 (a network camera receiving SIM-DVS-0020 sent by nrraw stream from another process), ...
#   VIEW_CLICKS: clicks on the viewer-type button before measuring (fusion: 0 fused, 1 DVS, 2 APS)
set -u
build=$(realpath "${1:-build/release}")
seconds=${2:-300}
serial=${3:-SIM-DVS-0020}
clicks=${4:-0}
. "$(dirname "$(realpath "$0")")/viewer_session.sh"
for i in $(seq "$clicks"); do
  # the viewer-type button, left of the viewer settings button
  xdotool mousemove $((X + WIDTH - 137)) $((Y + HEIGHT - 57)) click 1
  sleep 0.5
done

menu_ms() {
  local before now t0 t
  eval "$(xdotool getwindowgeometry --shell "$win")" # the window may have moved
  before=$(xdotool search --onlyvisible --name '.*' 2> /dev/null | sort)
  xdotool mousemove $((X + 144)) $((Y + 22))
  t0=$(date +%s%N)
  xdotool mousedown 1
  while :; do
    now=$(xdotool search --onlyvisible --name '.*' 2> /dev/null | sort)
    [ "$now" != "$before" ] && break
    t=$(date +%s%N)
    [ $(((t - t0) / 1000000)) -gt 3000 ] && { echo "timeout"; xdotool mouseup 1; return; }
  done
  t=$(date +%s%N)
  xdotool mouseup 1
  sleep 0.2
  xdotool key Escape
  echo $(((t - t0) / 1000000))
}

# CPU ticks of each of the viewer's threads by name ("camera stream", "live display", "event
# render", ...; the GUI thread is "viewer"), one "NAME<TAB>TICKS" line a thread.
thread_ticks() {
  local t
  for t in /proc/$pid/task/*; do
    printf '%s\t%s\n' "$(cat "$t/comm" 2> /dev/null)" "$(sed 's/.*) //' "$t/stat" 2> /dev/null | awk '{print $12 + $13}')"
  done
}

echo "== $serial for $seconds s (viewer-type clicks: $clicks), load average $(cut -d' ' -f1 /proc/loadavg)"
hz=$(getconf CLK_TCK)
threads_before=$(thread_ticks)
start=$(ticks)
begin=$(date +%s)
last=$start
lastT=$begin
latencies=""
while [ $(($(date +%s) - begin)) -lt "$seconds" ]; do
  sleep 10
  kill -0 $pid 2> /dev/null || { echo "the viewer ended"; exit 1; }
  now=$(ticks)
  t=$(date +%s)
  cpu=$(((now - last) * 100 / hz / (t - lastT)))
  last=$now
  lastT=$t
  line=$(grep '^display:' "$work/stats.txt" | tail -1)
  if [ $(((t - begin) % 20)) -lt 10 ]; then
    ms=$(menu_ms)
    latencies="$latencies $ms"
  else
    ms="-"
  fi
  echo "t=$((t - begin))s cpu=${cpu}% rss=$(rss)MB menu=${ms}ms $line"
done
import -window root "$work/last.png" && cp "$work/last.png" "$build/viewer_load_${serial}_${clicks}.png"
total=$(($(ticks) - start))
# per thread name: its share of a core over the run (threads that ended meanwhile are left out)
{ echo "$threads_before" | sed 's/^/B\t/'; thread_ticks | sed 's/^/A\t/'; } | awk -F'\t' -v hz="$hz" -v s="$seconds" '
  $1 == "B" { before[$2] += $3 } $1 == "A" { after[$2] += $3 }
  END { line = "RESULT cpu by thread:"; for (n in after) { d = after[n] - before[n]; if (d > 0) line = line sprintf(" %s %d%%,", n, d * 100 / hz / s) } print line }' 
echo "RESULT $serial view-clicks=$clicks: mean cpu $((total * 100 / hz / seconds))%, rss at end $(rss) MB, peak $(awk '/VmHWM/ {print int($2 / 1024)}' /proc/$pid/status) MB"
grep '^display:' "$work/stats.txt" | tail -n +5 | awk '{n++; s += $2; if (min == "" || $2 < min) min = $2} END {printf "RESULT images/s: mean %.1f, lowest %d over %d s\n", s / n, min, n}'
# the status bar's count covers the camera's last second; sampled once a second
grep -o 'Dropped: [0-9]*' "$work/stats.txt" | awk '{n++; if ($2 > 0) d++; if ($2 > m) m = $2} END {printf "RESULT dropped events: %d of %d samples non-zero, most in one second %d\n", d, n, m}'
echo "RESULT menu latency ms:$latencies"
