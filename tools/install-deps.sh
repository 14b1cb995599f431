#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: when everything is present it prints nothing and changes nothing.
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config git python3
  # application framework
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # media stack
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  gstreamer1.0-plugins-bad gstreamer1.0-plugins-ugly gstreamer1.0-libav
  gstreamer1.0-alsa gstreamer1.0-x gstreamer1.0-plugins-base-apps
  ffmpeg
  # VLC plays the stream in the tests (cvlc, run as an unprivileged user)
  vlc-bin vlc-plugin-base
  # the broadcast relay (tools/run-relay.sh): nginx with its RTMP module
  nginx libnginx-mod-rtmp
  # network and archives
  libcurl4-openssl-dev libssl-dev libmspack-dev gcab cabextract curl
  # tests
  googletest libgtest-dev libgmock-dev
  # desktop stand-ins for headless runs and screenshots; Korean fonts
  xvfb xauth fonts-nanum
  # the desktop's URL handlers (kerrow: links open KerrowHost.exe)
  xdg-utils
  # the relay's watch page: hls.js from npm (tools/relay/watch); Chromium
  # plays the page in the tests
  nodejs chromium chromium-driver
)
# Debian's npm only where no npm is present (a newer Node.js brings its own).
command -v npm >/dev/null || PACKAGES+=(npm)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
    exit 1
  fi
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The watch page's hls.js (npm, pinned by its lock file), beside the page.
bash "$(dirname "$0")/relay/watch/setup-www.sh"
