# The README's example of a transition between two videos, run exactly as the
# README writes it: the lines are read out of README.md, with kve on the PATH
# and two videos named as it names them. FFmpeg inside <( ) shares the pipe of
# kve pipe's first stream as standard input, so the example works only as long
# as that FFmpeg is told not to read it.
README=$(realpath "$(dirname "$0")/../../README.md")
source "$(dirname "$0")/lib.sh"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/deps.sh installs it)"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# The example: from its comment line to the end of its code block.
awk '/^# A transition between two videos/ {on = 1} on && /^```/ {exit} on {print}' \
    "$README" >example.sh
grep -q 'kve pipe "Dissolve {p}"' example.sh || fail "the README's transition example is missing"

mkdir -p bin
ln -s "$KVE" bin/kve
ff -f lavfi -i "testsrc=size=1280x720:rate=25" -frames:v 50 -c:v mpeg4 -q:v 5 a.mp4
ff -f lavfi -i "smptebars=size=1280x720:rate=25" -frames:v 50 -c:v mpeg4 -q:v 5 b.mp4

PATH="$PWD/bin:$PATH" bash -euo pipefail example.sh </dev/null >example.log 2>&1 ||
    fail "the README's transition example failed: $(tail -5 example.log)"
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 dissolve.mp4)
[ "$frames" -eq 50 ] || fail "the README's example made $frames frames, not 50"
echo "ok: the README's transition example makes a 50-frame dissolve.mp4"
