# Bad input gives a clear message, its own exit status, and no output file.
source "$(dirname "$0")/lib.sh"

"$KVE" render "Negate" --size 32x20 --alpha -o good.png
"$KVE" render "Negate" --size 16x16 -o small.png
head -c $(($(stat -c %s good.png) / 2)) good.png >truncated.png
printf 'not a picture' >text.png

# Usage: options, sizes, input counts.
expect_status 2 "$KVE" render "Negate" --size 0x20 -o out.png
expect_status 2 "$KVE" render "Negate" --size 32 -o out.png
expect_status 2 "$KVE" render "Negate" -i good.png --size 16x16 -o out.png
expect_status 2 "$KVE" render "Add" -i good.png -o out.png
expect_status 2 "$KVE" render "Negate" -o out.png --jobs 2
expect_status 2 "$KVE" sweep "Negate" --frames 3 -o 'out_%02d.png'
expect_status 2 "$KVE" sweep "Negate {p}" --frames 3 -o 'out.png'
expect_status 2 "$KVE" sweep "Negate {p}" --frames 0 -o 'out_%02d.png'
expect_status 2 "$KVE" pipe "Add" --size 4x4 </dev/null
expect_status 2 "$KVE" pipe "Negate {p}" --size 4x4 </dev/null
no_files 'out*'

# Input/output: missing, truncated and foreign files, sizes that disagree,
# an output folder that does not exist.
expect_status 3 "$KVE" render "Negate" -i missing.png -o out.png
grep -q "missing.png" stderr || fail "the message does not name the missing file"
expect_status 3 "$KVE" render "Negate" -i truncated.png -o out.png
grep -q "truncated.png" stderr || fail "the message does not name the truncated file"
expect_status 3 "$KVE" render "Negate" -i text.png -o out.png
expect_status 3 "$KVE" render "Add" -i good.png -i small.png -o out.png
grep -q "32x20" stderr && grep -q "16x16" stderr || fail "size message lacks the sizes: $(cat stderr)"
expect_status 3 "$KVE" render "Negate" --size 8x8 -o no/such/folder/out.png
expect_status 3 "$KVE" sweep "Negate {p}" -i missing.png --frames 2 -o 'out_%d.png'
no_files 'out*'

# Raw streams that end inside a frame, or a second stream shorter than the first.
head -c 100 /dev/zero >short.raw
expect_status 3 "$KVE" pipe "Negate" --size 4x4 <short.raw
head -c 128 /dev/zero >two.raw
if has_effect Dissolve; then
    head -c 64 /dev/zero >one.raw
    expect_status 3 "$KVE" pipe "Dissolve 0.5" --size 4x4 --second one.raw <two.raw
fi
expect_status 3 "$KVE" pipe "Add" --size 4x4 --second missing.raw <two.raw
expect_status 3 "$KVE" pipe "Add" --size 4x4 --second small.png <two.raw
expect_status 3 "$KVE" pipe "Add" --size 4x4 --second truncated.png <two.raw

# Unknown effects and malformed commands.
expect_status 5 "$KVE" render "Negatee" -o out.png
expect_status 5 "$KVE" render "negate" -o out.png
expect_status 5 "$KVE" render "" -o out.png
expect_status 5 "$KVE" pipe "Nothing" --size 4x4 <two.raw
expect_status 5 "$KVE" sweep "Nothing {p}" --frames 2 -o 'out_%d.png'
# An effect with text parameters: words that are not numbers are refused, and
# so is the bare name (its parameters are missing).
with_params=$("$KVE" list | awk '/^  [A-Za-z]/ && NF > 3 {print $1; exit}')
if [ -n "$with_params" ]; then
    expect_status 4 "$KVE" render "$with_params zz zz zz zz zz zz zz zz zz zz zz zz zz" -o out.png
    grep -q "refused" stderr || fail "no refusal message: $(cat stderr)"
    grep -q "usage: $with_params" stderr || fail "the refusal does not show the parameters"
    expect_status 4 "$KVE" render "$with_params" -o out.png
    expect_status 4 "$KVE" sweep "$with_params {p}" --size 8x8 --frames 3 -o 'out_%d.png'
else
    echo "note: no effect with text parameters yet; refusals are checked in kve_cli_tests"
fi
no_files 'out*'

# A sweep that fails part way (one frame name is taken by a folder) leaves
# none of its frames behind.
mkdir out_3.png
expect_status 3 "$KVE" sweep "Negate {p}" --size 8x8 --frames 6 --jobs 2 -o 'out_%d.png'
[ -d out_3.png ] || fail "the folder in the way is gone"
rmdir out_3.png
no_files 'out*'

# A signal stops the tool with its own status, leaving no output.
mkfifo never.raw
exec 3<>never.raw
"$KVE" pipe "Negate" --size 4x4 <never.raw >piped.raw 2>stderr &
pid=$!
sleep 0.5
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
exec 3>&-
[ "$status" -eq 6 ] || fail "a stopped pipe exited $status, expected 6"
echo "ok: status 6 from a pipe stopped by SIGTERM"
[ ! -s piped.raw ] || fail "a stopped pipe wrote frames"
