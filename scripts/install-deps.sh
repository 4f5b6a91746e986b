#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# but only those that are missing, so a prepared machine pays nothing.
set -euo pipefail

packages=(
  build-essential dpkg-dev cmake ninja-build pkg-config clang libclang-rt-14-dev
  libcurl4-openssl-dev libpng-dev libtomcrypt-dev libtommath-dev libx11-dev liblzma-dev
  xvfb x11-utils xz-utils
  libgtest-dev libgmock-dev libssl-dev
  openjdk-17-jdk-headless python3 python3-pycryptodome
  util-linux
  # desktop-file-validate checks the menu entries the launcher writes.
  desktop-file-utils
  # cpack -G DEB finds the programs among the package's files with file(1),
  # to take their library dependencies.
  file
  # bench/app_size.sh: jpackage --type deb builds its package under fakeroot.
  fakeroot
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
