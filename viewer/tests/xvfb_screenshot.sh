#!/usr/bin/env bash
# Screenshots of the real viewer windows on a virtual X server (start dialog, then main window), in
# <build>/screenshots/. Needs xvfb-run and ImageMagick's import; not part of the test suite.
# With a recording, the main window also opens it and is taken again while it plays.
# usage: viewer/tests/xvfb_screenshot.sh [build folder, default build/release] [recording.raw]
set -euo pipefail
build=$(realpath "${1:-build/release}")
out="$build/screenshots"
recording=${2:+$(realpath "$2")}
mkdir -p "$out"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
cat > "$home/run.sh" <<INNER
#!/usr/bin/env bash
export XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
cd "$home"
"$build/bin/viewer" ${recording:+"$recording"} &
pid=\$!
sleep 1.2
import -window root "$out/xvfb_init_dialog.png"
sleep 2.8
import -window root "$out/xvfb_main_window.png"
if [ -n "$recording" ]; then sleep 2; import -window root "$out/xvfb_player.png"; fi
kill \$pid
INNER
chmod +x "$home/run.sh"
xvfb-run -a -s '-screen 0 1920x1080x24' "$home/run.sh"
echo "written: $out/xvfb_init_dialog.png $out/xvfb_main_window.png"
