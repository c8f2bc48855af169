#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, when any is missing.
set -euo pipefail
pkgs=(build-essential cmake pkg-config g++ clang libclang-rt-14-dev
      qt6-base-dev qt6-base-dev-tools libgl-dev
      libgtest-dev libgmock-dev libbenchmark-dev
      zlib1g-dev libicu-dev nlohmann-json3-dev libsqlite3-dev
      xvfb xauth x11-utils fonts-dejavu-core file xdotool openbox
      libgif-dev fonts-liberation poppler-utils cups-daemon cups-client printer-driver-cups-pdf
      libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-draw-nogui)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
