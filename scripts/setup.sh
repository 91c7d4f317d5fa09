#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the tests need that
# is not already installed. Safe to run again; does nothing when all is there.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang
  libicu-dev icu-devtools
  libace-dev
  libxerces-c-dev
  libiscsi-dev libiscsi-bin
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  tgt istgt
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
