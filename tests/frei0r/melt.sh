# melt as a real host: wipe and transition mixers between two clips, rendered
# to PNG frames with the progress animated by a keyframe, each frame compared
# byte for byte with kve render of the command the plugin runs at that
# progress. The frame size is odd on purpose: any size works.
source "$(dirname "$0")/host_lib.sh"
command -v melt >/dev/null || fail "melt is missing (scripts/deps.sh installs it)"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/deps.sh installs it)"
# Render to files only: no window, no sound device.
export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy

width=97 height=55
cat >profile <<PROFILE
description=kve test
frame_rate_num=25
frame_rate_den=1
width=$width
height=$height
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$width
display_aspect_den=$height
colorspace=601
PROFILE
ff -f lavfi -i "testsrc=size=${width}x$height" -frames:v 1 -pix_fmt rgba a.png
ff -f lavfi -i "smptebars=size=${width}x$height" -frames:v 1 -pix_fmt rgba b.png

raw() { ff -i "$1" -f rawvideo -pix_fmt rgba "$2"; }

# mix EFFECT PROGRESS-INDEX [INDEX=VALUE...]: clip a.png on track 0 and b.png
# on track 1, the plugin's progress going 0, 0.25 .. 1 over five frames.
mix() {
    local effect=$1 progress=$2
    shift 2
    local file
    file=$(plugin_file "$effect")
    # The consumer renders every frame in order (real_time=0: none is dropped
    # under load). On a loaded machine melt now and then hangs at the end of a
    # render or ends without writing its frames: such a run is tried again,
    # up to three times; what it does write must still match exactly.
    local attempt status
    for attempt in 1 2 3; do
        rm -f out_*.png
        status=0
        timeout 30 melt -profile "$PWD/profile" avformat:a.png out=4 -track avformat:b.png out=4 \
            -transition "frei0r.$file" in=0 out=4 a_track=0 b_track=1 "$@" \
            "$progress=0=0;4=1" \
            -consumer avformat:out_%02d.png vcodec=png pix_fmt=rgba real_time=0 \
            </dev/null >melt.log 2>&1 || status=$?
        [ "$status" -eq 0 ] && [ -f out_05.png ] && break
        echo "note: melt run $attempt of frei0r.$file ended with status $status and $(ls out_*.png 2>/dev/null | wc -l) frames"
    done
    [ "$status" -eq 0 ] || fail "melt failed ($status): $(cat melt.log)"
    for frame in 0 1 2 3 4; do
        local out params command
        out=$(printf 'out_%02d.png' $((frame + 1)))
        [ -f "$out" ] || fail "melt wrote no $out: $(cat melt.log)"
        # The values in parameter order, as kve_frei0r_command reads them.
        params=$(mix_params "$progress" "$(awk -v f="$frame" 'BEGIN { print f / 4 }')" "$@")
        command=$("$COMMAND" command "$effect" ${width}x$height "$params")
        "$KVE" render "$command" -i a.png -i b.png --alpha -o want.png
        raw "$out" got.raw
        raw want.png want.raw
        cmp -s got.raw want.raw || fail "melt frame $frame of $file differs from kve render \"$command\""
        echo "ok: melt frame $frame of frei0r.$file equals kve render \"$command\""
    done
}

# mix_params PROGRESS-INDEX VALUE [INDEX=VALUE...]: "v0|v1|..." up to the
# highest index given (parameters not given keep their defaults, which
# kve_frei0r_command fills in for empty places).
mix_params() {
    local -a values=()
    values[$1]=$2
    shift 2
    for pair in "$@"; do
        values[${pair%%=*}]=${pair#*=}
    done
    local text="" k
    for ((k = 0; k < ${#values[@]} || k <= $(printf '%s\n' "${!values[@]}" | sort -n | tail -1); k++)); do
        [ "$k" -eq 0 ] || text+="|"
        text+=${values[$k]:-}
    done
    echo "$text"
}

mix Wipe 1 0=0.101
mix Wipe 1 0=0.241 2=0.2 8=0.1
mix Push 0 1=0.5
mix Dissolve 0
