# Shared by the tool's end-to-end scripts: $1 is the kve binary, $2 a scratch
# folder (emptied first). Each check prints what it tested; the first failure
# ends the script with a message and status 1.
set -euo pipefail
KVE=$(realpath "$1")
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# expect_status STATUS COMMAND...: runs the command, checks its exit status and
# that it said something on standard error (kept in ./stderr).
expect_status() {
    local want=$1
    shift
    local got=0
    "$@" >stdout 2>stderr || got=$?
    [ "$got" -eq "$want" ] || fail "$* exited $got, expected $want; stderr: $(cat stderr)"
    if [ "$want" -ne 0 ]; then
        [ -s stderr ] || fail "$* failed without a message"
        grep -q '^kve: ' stderr || fail "$* message lacks the kve: prefix: $(cat stderr)"
    fi
    echo "ok: status $want from $*"
}

# no_files PATTERN...: nothing matching is left (temporary files included).
no_files() {
    local found
    found=$(find . -name "$1" -o -name ".$1.kve-*" | head -5)
    [ -z "$found" ] || fail "left behind: $found"
}

effects() { "$KVE" list | awk '/^  [A-Za-z]/ {print $1}'; }
has_effect() { effects | grep -qx "$1"; }
