#!/usr/bin/env bash
# Installs what building and testing txlib needs on Debian (run as root).
# Packages already present are not fetched again. Qt 6 is for the optional
# Qt adapter (qt/) and its tests; the library itself builds without it.
set -euo pipefail
packages=(cmake make g++ clang libclang-rt-dev pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libicu-dev libxml2-dev
          qt6-base-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
