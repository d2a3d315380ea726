# The kve commands end to end on small frames.
source "$(dirname "$0")/lib.sh"

# --help everywhere, with the exit statuses.
for sub in "" render sweep pipe list gallery; do
    # shellcheck disable=SC2086
    "$KVE" $sub --help >help.txt
    grep -q "Exit status" help.txt || fail "kve $sub --help lacks the exit statuses"
done
expect_status 2 "$KVE"
expect_status 2 "$KVE" render
expect_status 2 "$KVE" frobnicate

# list: one line per effect, each explained on its own.
count=$(effects | wc -l)
[ "$count" -ge 1 ] || fail "kve list shows no effects"
for name in $(effects); do
    "$KVE" list "$name" >one.txt || fail "kve list $name failed"
    grep -q "^Example: kve render \"$name" one.txt || fail "kve list $name shows no example"
done
expect_status 5 "$KVE" list NoSuchEffect
echo "ok: list shows $count effects"

# render: built-in frames, and back from its own PNG output. Negate twice with
# alpha kept gives the built-in frame back, byte for byte.
"$KVE" render "Negate" --size 48x32 --alpha -o neg.png
"$KVE" render "Negate" -i neg.png --alpha -o back.png
"$KVE" render "Or" -i neg.png -i neg.png --alpha -o same.png
cmp -s neg.png same.png || fail "Or of a frame with itself changed it"
"$KVE" gallery -o g0 --size 48x32 --alpha --jobs 1 >/dev/null
cmp -s back.png g0/input_A.png || fail "Negate twice is not the identity through PNG files"
[ "$(stat -c %s neg.png)" -gt 0 ] || fail "empty PNG"
"$KVE" render "Negate" --size 48x32 -o opaque.png
"$KVE" render "Add" --size 17x9 --out-size 17x9 -o add.png
echo "ok: render"

# sweep: N numbered frames, the same whatever the number of threads, quiet
# when standard error is not a terminal.
sweep="Negate {p}"
has_effect Dissolve && sweep="Dissolve {p}"
has_effect Wipe && sweep="Wipe 101 {p} 0.1 [0 0] 1 1 0 [8 8] 0.02 [(argb) 255 255 200 0]"
mkdir one many
"$KVE" sweep "$sweep" --size 40x24 --frames 7 --jobs 1 -o one/f_%02d.png 2>sweep.err
[ ! -s sweep.err ] || fail "sweep wrote to a non-terminal standard error: $(cat sweep.err)"
"$KVE" sweep "$sweep" --size 40x24 --frames 7 --jobs 4 -o many/f_%02d.png
[ "$(ls one | wc -l)" -eq 7 ] || fail "sweep wrote $(ls one | wc -l) frames, not 7"
for i in 00 01 02 03 04 05 06; do
    cmp -s "one/f_$i.png" "many/f_$i.png" || fail "frame $i differs between 1 and 4 threads"
done
echo "ok: sweep of '$sweep' is the same on 1 and 4 threads"
# On a terminal the sweep shows its progress.
if command -v script >/dev/null; then
    mkdir tty
    script -qec "'$KVE' sweep 'Negate {p}' --size 8x8 --frames 3 -o tty/f_%d.png" /dev/null >tty.out
    grep -q 'sweep \[' tty.out || fail "no progress bar on a terminal: $(cat tty.out)"
    echo "ok: progress bar on a terminal"
fi

# gallery: every effect and every wipe number, each picture on the sheet.
"$KVE" gallery -o gallery --size 48x32 --jobs 2 >gallery.out
grep -q "index.html" gallery.out || fail "gallery does not say where the contact sheet is"
[ -s gallery/index.html ] || fail "no index.html"
for name in $(effects); do
    [ -s "gallery/effect_$name.png" ] || fail "gallery lacks $name"
    grep -q "src=\"effect_$name.png\"" gallery/index.html || fail "index.html lacks $name"
done
grep -o 'src="[^"]*"' gallery/index.html | sed 's/src="//; s/"$//' | while read -r png; do
    [ -s "gallery/$png" ] || fail "index.html shows missing $png"
done
wipes=$("$KVE" list Wipe 2>/dev/null | sed -n '/^Wipe numbers:/,$p' | tr -cs '0-9' '\n' | grep -c . || true)
[ "$(ls gallery | grep -c '^wipe_')" -eq "$wipes" ] || fail "gallery wipes differ from the wipe numbers"
echo "ok: gallery with $(ls gallery | grep -c png) pictures"

# frame-sequence input: frame 2 of a file of 352 x 240 frames.
"$KVE" render "Negate" --size 352x240 --alpha -o f1.png
"$KVE" render "Monochrome" --size 352x240 --alpha -o f2.png
# The file: a 64 KiB header, then a 384 KiB slot per frame starting with the frame.
{
    head -c 65536 /dev/zero
    for png in f1.png f2.png; do
        ffmpeg -nostdin -loglevel error -i "$png" -f rawvideo -pix_fmt argb -
        head -c $((393216 - 352 * 240 * 4)) /dev/zero
    done
} >seq.kvs
"$KVE" render "Negate" -i seq.kvs:2 --alpha -o from_seq.png
"$KVE" render "Negate" -i f2.png --alpha -o from_png.png
cmp -s from_seq.png from_png.png || fail "frame 2 of the sequence file is not the frame stored there"
expect_status 3 "$KVE" render "Negate" -i seq.kvs:3 -o x.png
expect_status 2 "$KVE" render "Negate" -i seq.kvs:0 -o x.png
no_files x.png
echo "ok: frame-sequence input"
