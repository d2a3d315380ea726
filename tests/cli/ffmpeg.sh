# FFmpeg as a real client: raw argb frames through kve pipe compared byte for
# byte with FFmpeg's own filters, PNG files FFmpeg reads, and a sweep that
# FFmpeg encodes into a video of the right length.
source "$(dirname "$0")/lib.sh"
command -v ffmpeg >/dev/null || fail "ffmpeg is missing (scripts/deps.sh installs it)"
command -v ffprobe >/dev/null || fail "ffprobe is missing (scripts/deps.sh installs ffmpeg)"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

size=96x54
ff -f lavfi -i "testsrc=size=$size:rate=10" -frames:v 6 -f rawvideo -pix_fmt argb source.raw
[ "$(stat -c %s source.raw)" -eq $((96 * 54 * 4 * 6)) ] || fail "unexpected testsrc size"

# Each pair: a kve command and FFmpeg's exact equivalent on argb frames. The
# mirrors are whole-word copies, as hflip and vflip are. Negate inverts every
# bit, alpha included, while FFmpeg's negate filter leaves alpha alone: lutrgb
# inverting all four components is the exact equivalent.
pairs=()
has_effect MirrorH && pairs+=("MirrorH|hflip")
has_effect MirrorV && pairs+=("MirrorV|vflip")
[ ${#pairs[@]} -gt 0 ] || pairs+=("Negate|lutrgb=r=negval:g=negval:b=negval:a=negval")
for pair in "${pairs[@]}"; do
    effect=${pair%%|*}
    filter=${pair#*|}
    ff -f rawvideo -pix_fmt argb -s $size -i source.raw -vf "$filter" \
        -f rawvideo -pix_fmt argb expected.raw
    ff -f rawvideo -pix_fmt argb -s $size -i source.raw -f rawvideo -pix_fmt argb - |
        "$KVE" pipe "$effect" --size $size --frames 6 |
        ff -f rawvideo -pix_fmt argb -s $size -i - -f rawvideo -pix_fmt argb piped.raw
    cmp expected.raw piped.raw || fail "kve pipe $effect differs from FFmpeg $filter"
    echo "ok: ffmpeg | kve pipe \"$effect\" | ffmpeg equals ffmpeg -vf $filter"
done

# The second input from a FIFO, as a transition between two streams would
# read it: Xor of a stream with itself is all zero bytes.
mkfifo second.fifo
ff -f rawvideo -pix_fmt argb -s $size -i source.raw -f rawvideo -pix_fmt argb second.fifo &
"$KVE" pipe "Xor" --size $size --second second.fifo <source.raw >xor.raw
wait
cmp xor.raw <(head -c "$(stat -c %s source.raw)" /dev/zero) || fail "Xor through a FIFO is not zero"
echo "ok: second input from a FIFO"

# PNG files both ways: FFmpeg's PNG of a test frame through kve render, kept
# exact, then read back by FFmpeg.
ff -f lavfi -i "testsrc=size=$size:rate=1" -frames:v 1 -pix_fmt rgba frame.png
"$KVE" render "Negate" -i frame.png --alpha -o negated.png
ff -i frame.png -vf "format=argb,lutrgb=r=negval:g=negval:b=negval:a=negval" \
    -f rawvideo -pix_fmt argb expected_png.raw
ff -i negated.png -f rawvideo -pix_fmt argb got_png.raw
cmp expected_png.raw got_png.raw || fail "kve render Negate of a PNG differs from FFmpeg's"
# Without --alpha the picture is opaque: every alpha byte FFmpeg reads is 255.
"$KVE" render "Negate" -i frame.png -o opaque.png
ff -i opaque.png -f rawvideo -pix_fmt argb opaque.raw
[ "$(od -An -v -tu1 -w4 opaque.raw | awk '$1 != 255' | wc -l)" -eq 0 ] || fail "alpha kept"
echo "ok: PNG files exchanged with FFmpeg"

# A still picture as the second input of a pipe, used for every frame.
ff -i frame.png -frames:v 1 -f rawvideo -pix_fmt argb frame.raw
cat frame.raw frame.raw frame.raw | "$KVE" pipe "Xor" --size $size --second frame.png >still.raw
cmp still.raw <(head -c $((96 * 54 * 4 * 3)) /dev/zero) || fail "Xor with a still PNG is not zero"
echo "ok: still PNG as the second input of a pipe"

# A sweep encoded by FFmpeg into a video that decodes to as many frames.
sweep="Negate {p}"
has_effect Dissolve && sweep="Dissolve {p}"
has_effect Wipe && sweep="Wipe 101 {p} 0.1 [0 0] 1 1 0 [8 8] 0.02 [(argb) 255 255 200 0]"
"$KVE" sweep "$sweep" --size 64x48 --frames 12 -o 'sweep_%03d.png'
ff -framerate 12 -i sweep_%03d.png -c:v mpeg4 -q:v 2 -pix_fmt yuv420p sweep.mp4
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 sweep.mp4)
[ "$frames" -eq 12 ] || fail "the encoded sweep has $frames frames, not 12"
echo "ok: sweep of '$sweep' encodes to a 12-frame video"
