# FFmpeg's frei0r filter as a real host: every filter plugin on FFmpeg's test
# source (with alpha varying) compared byte for byte with kve pipe running
# the command the plugin runs on the same frames, and every source plugin
# through frei0r_src.
source "$(dirname "$0")/host_lib.sh"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/deps.sh installs it)"

# FFmpeg 5.1 hands the plugin its frames with rows padded to 64 bytes, which a
# frei0r plugin cannot see; widths that are multiples of 16 have no padding.
# (The plugins themselves take any size: kve_frei0r_tests and melt.sh use odd
# ones.)
size=96x54
ff -f lavfi -i "testsrc=size=$size:rate=10,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='mod(X*7+Y*3+N*40,256)'" \
    -frames:v 4 -f rawvideo -pix_fmt argb source.raw
[ "$(stat -c %s source.raw)" -eq $((96 * 54 * 4 * 4)) ] || fail "unexpected test source size"

# compare EFFECT [PARAMETERS] [EXPECTED-COMMAND]: FFmpeg through the plugin
# against kve pipe; when EXPECTED-COMMAND is given, the plugin's command must
# be exactly it (the mapping of the values, checked by hand).
compare() {
    local effect=$1 params=${2:-} expected=${3:-}
    local file command filter
    file=$(plugin_file "$effect")
    command=$("$COMMAND" command "$effect" $size "$params")
    if [ -n "$expected" ] && [ "$command" != "$expected" ]; then
        fail "$file with '$params' runs '$command', expected '$expected'"
    fi
    filter="frei0r=$file"
    [ -z "$params" ] || filter="frei0r=filter_name=$file:filter_params='$params'"
    ff -f rawvideo -pix_fmt argb -s $size -i source.raw -vf "format=rgba,$filter" \
        -f rawvideo -pix_fmt argb got.raw
    "$KVE" pipe "$command" --size $size <source.raw >want.raw
    if [ "$(stat -c %s want.raw)" -ne "$(stat -c %s source.raw)" ]; then
        # The effect writes another size (a cut-out, a resize): the plugin
        # shows its top-left part, which kve pipe does not make.
        [ "$(stat -c %s got.raw)" -eq "$(stat -c %s source.raw)" ] || fail "$file changed the size"
        echo "ok: ffmpeg -vf $filter ran (\"$command\" writes another size; not compared)"
        return
    fi
    cmp -s got.raw want.raw || fail "ffmpeg -vf $filter differs from kve pipe \"$command\""
    echo "ok: ffmpeg -vf $filter equals kve pipe \"$command\""
}

count=0
for effect in $(plugins filter); do
    compare "$effect"
    count=$((count + 1))
done
[ "$count" -ge 1 ] || fail "no filter plugin found"

# Source plugins through FFmpeg's frei0r_src, against kve render of the same
# command.
for effect in $(plugins source); do
    file=$(plugin_file "$effect")
    command=$("$COMMAND" command "$effect" $size)
    ff -f lavfi -i "frei0r_src=size=$size:framerate=10:filter_name=$file:filter_params=" \
        -frames:v 2 -f rawvideo -pix_fmt argb got.raw
    "$KVE" render "$command" --size $size --alpha -o want.png
    ff -i want.png -f rawvideo -pix_fmt argb want.raw
    cat want.raw want.raw | cmp -s got.raw - || fail "frei0r_src $file differs from kve render \"$command\""
    echo "ok: ffmpeg frei0r_src=$file equals kve render \"$command\""
done

# Values through FFmpeg's own parameter syntax, with the commands they map to.
compare Fade "0.25" "Fade 0.5"
compare Translate "0.75/0.5" "Translate [0.5 0]"
compare Crop "0.25/0.25|0.75/1|1|0.5" "Crop [-0.5 -0.28125 0.5 0.5625] 4 0.5"
compare ChromaKey "1/0/0|0.5|0.25" "ChromaKey [(argb) 128 255 0 0] 0.25"
compare Add_Noise "0.5|0.5|0.25|1" "Add_Noise 0.5 0.5 0.25 1"
# A cut-out writes a smaller frame; the plugin keeps the host's size.
compare Crop "0.25/0.25|0.75/0.75|0" "Crop [-0.5 -0.28125 0.5 0.28125] 0 0.35"
echo "ok: $count filter plugins in FFmpeg"
