# Shared by the host scripts: $1 the kve tool, $2 kve_frei0r_command, $3 the
# folder of built plugins, $4 a scratch folder (emptied first). The tool's
# script library does the setting up and gives `fail`; each check prints what
# it tested; the first failure ends the script with status 1.
COMMAND=$(realpath "$2")
export FREI0R_PATH
FREI0R_PATH=$(realpath "$3")
source "$(dirname "${BASH_SOURCE[0]}")/../cli/lib.sh" "$1" "$4"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# plugins KIND: the effect names of the plugins of that kind.
plugins() { "$COMMAND" list | awk -v kind="$1" '$2 == kind {print $3}'; }
plugin_file() { "$COMMAND" list | awk -v name="$1" '$3 == name {print $1}'; }
