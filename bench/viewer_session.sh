# Sourced by the viewer's load runs: starts a virtual X server and the Release viewer with a live
# simulated camera, and finds its main window. Needs Xvfb and xdotool.
# In: build (the build folder), serial. Out: work (a temporary folder, removed at exit), pid (the
# viewer), win (its main window); the viewer's standard error in $work/stats.txt, its log (standard
# output) in $work/log.txt, both appended to. Recordings go to $work/recordings. start_viewer
# starts it again (after it was killed) on the same X server.
work=$(mktemp -d /tmp/norvale_viewer_run_XXXXXX)
trap 'kill $pid $xpid 2>/dev/null; rm -rf "$work"' EXIT
cat > "$work/cameras.json" <<'JSON'
{"cameras": [
  {"serial": "SIM-DVS-0020", "kind": "dvs", "event_rate": 20},
  {"serial": "SIM-DVS-0050", "kind": "dvs", "event_rate": 50},
  {"serial": "SIM-FUS-0020", "kind": "fusion", "event_rate": 20}
],
 "network_cameras": [
  {"serial": "NET-0020", "port": 47777, "width": 1280, "height": 720}
]}
JSON
export NORVALE_SIMULATED_CAMERAS=$work/cameras.json NORVALE_DISPLAY_STATS=1
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
mkdir -p "$work/recordings" "$work/data/Norvale/NorvaleCamView"
printf '[Setting]\noutput_raw_file_path=%s\n' "$work/recordings" > "$work/data/Norvale/NorvaleCamView/config.ini"
display=:$((90 + RANDOM % 9))
Xvfb $display -screen 0 1920x1080x24 -nolisten tcp > /dev/null 2>&1 &
xpid=$!
export DISPLAY=$display
sleep 1
cd "$work"
# NET-0020 is a network camera fed by "nrraw stream" of SIM-DVS-0020 (20 Mev/s) from another
# process, for as long as the run lasts.
if [ "$serial" = NET-0020 ]; then
  "$build/bin/nrraw" stream SIM-DVS-0020 udp://127.0.0.1:47777 --seconds $((${seconds:-300} + 60)) > "$work/sender.txt" 2>&1 &
  spid=$!
  trap 'kill $pid $xpid $spid 2>/dev/null; rm -rf "$work"' EXIT
fi
start_viewer() {
  "$build/bin/viewer" --camera "$serial" 2>> "$work/stats.txt" >> "$work/log.txt" &
  pid=$!
  # the main window (the start dialog before it has the same name but is smaller); a busy machine
  # may take a while
  win=""
  for i in $(seq 600); do
    for w in $(xdotool search --onlyvisible --name NorvaleCamView 2> /dev/null); do
      [ "$(xdotool getwindowgeometry --shell "$w" | sed -n 's/^WIDTH=//p')" -ge 1000 ] && win=$w
    done
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -z "$win" ] && { echo "the main window did not appear; the viewer's last words:"; tail -5 "$work/stats.txt"; exit 1; }
  sleep 3 # the camera opens and streams
  eval "$(xdotool getwindowgeometry --shell "$win")" # X, Y, WIDTH, HEIGHT
}
start_viewer

ticks() { awk '{print $14 + $15}' /proc/$pid/stat; }
rss() { awk '/VmRSS/ {print int($2 / 1024)}' /proc/$pid/status; }
