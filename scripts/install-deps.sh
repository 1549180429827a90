#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the benchmarks and
# the windows need, and only those that are missing. Runs as root (or through
# sudo) with no interaction; apt-get update runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config make
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libswresample-dev libavfilter-dev libavdevice-dev
  libmediainfo-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev libgmock-dev
  clang-format
  ffmpeg
  locales
  fonts-noto-cjk
  xvfb xauth
  xdg-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
