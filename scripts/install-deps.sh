#!/usr/bin/env bash
# Installs the Debian packages Pixora needs, and only those that are missing; quick when all
# are present. Usage: scripts/install-deps.sh [--bench]
set -euo pipefail

packages=(cmake ninja-build g++ make pkg-config
          libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
          ocl-icd-opencl-dev opencl-headers opencl-clhpp-headers pocl-opencl-icd
          nlohmann-json3-dev libgtest-dev)
if [[ "${1:-}" == "--bench" ]]; then
  packages+=(libbenchmark-dev libopencv-dev)
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
