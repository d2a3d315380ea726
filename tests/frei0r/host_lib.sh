# Shared by the host scripts: $1 the kve tool, $2 kve_frei0r_command, $3 the
# folder of built plugins, $4 a scratch folder (emptied first). Each check
# prints what it tested; the first failure ends the script with status 1.
set -euo pipefail
KVE=$(realpath "$1")
COMMAND=$(realpath "$2")
export FREI0R_PATH
FREI0R_PATH=$(realpath "$3")
WORK=$4
rm -rf "$WORK"
mkdir -p "$WORK"
cd "$WORK"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# plugins KIND: the effect names of the plugins of that kind.
plugins() { "$COMMAND" list | awk -v kind="$1" '$2 == kind {print $3}'; }
plugin_file() { "$COMMAND" list | awk -v name="$1" '$3 == name {print $1}'; }
