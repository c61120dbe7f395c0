#!/usr/bin/env bash
# Installs the Debian packages the build needs, and those named as arguments, only those that
# are missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
      libjpeg-dev libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth fonts-dejavu-core
      libftdi1-dev libserialport-dev libgensio-dev ser2net clang libclang-rt-14-dev clang-format
      clang-tidy ccache openbox xdotool x11-utils qt6-websockets-dev liblo-dev liblo-tools
      chromium chromium-driver python3-selenium "$@")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# npm from Debian only where no other Node.js installation brings its own.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
# axe-core (npm), which the browser test injects into the service's page to check its
# accessibility; installed into tools/web/node_modules as tools/web/package-lock.json fixes it.
web="$(cd "$(dirname "$0")" && pwd)/web"
if [ ! -f "$web/node_modules/axe-core/axe.min.js" ]; then
  (cd "$web" && npm ci --no-audit --no-fund)
fi
