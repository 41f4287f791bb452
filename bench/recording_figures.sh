# Shared by the kill runs (camera_load.sh, viewer_record.sh); sourced, needs $work and $at_kill.
# video_figures INFO DECODED: the video's frames and its last frame in camera time (the video's times
# start at the .raw header's "aps start timestamp", read from INFO, nrraw info's output), against
# the clock at the kill.
video_figures() {
  local start last
  start=$(sed -n 's/^aps start timestamp: \([0-9]*\).*/\1/p' "$1")
  last=$(sed -n 's/^last timestamp: \([0-9]*\) us/\1/p' "$work/aps.txt")
  echo "video opens: $(sed -n 's/^frames: //p' "$work/aps.txt") frames ($2 decoded), the last at $((${start:-0} + last)) us," \
    "$(( (at_kill - ${start:-0} - last) / 1000 )) ms before the kill"
}
