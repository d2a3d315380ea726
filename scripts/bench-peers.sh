#!/usr/bin/env bash
# Installs what the benchmarks' optional peer timings need (OpenCV's
# development files), when it is missing. The library and the tests never use
# it. Re-run CMake afterwards so the benchmarks pick it up.
set -euo pipefail

dpkg-query -W -f='${Status}' libopencv-dev 2>/dev/null | grep -q 'install ok installed' && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends libopencv-dev >/dev/null
