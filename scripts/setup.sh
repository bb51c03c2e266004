#!/usr/bin/env bash
# Installs what the build, the tests and the run command need on a Debian machine
# (`setup.sh dist`: and make dist).
# Idempotent and quick when everything is already there.
set -euo pipefail

need=(
  cmake make g++ gcc-multilib clang libclang-rt-14-dev python3
  clang-format-14
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  googletest libgtest-dev
  wine wine64 wine32:i386 libwine:i386
  xvfb xauth x11-utils imagemagick fonts-liberation
  procps psmisc socat ser2net
  libcli11-dev nlohmann-json3-dev libssl-dev
  python3-pytest python3-pytest-timeout python3-matplotlib python3-pil
  # The arm64 varnex: clang with Debian's arm64 libraries (g++-aarch64-linux-gnu cannot be
  # installed beside gcc-multilib), run by qemu-user.
  libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross
  binutils-aarch64-linux-gnu qemu-user-static
)
# `setup.sh dist` adds what make dist checks the packages with.
if [ "${1:-}" = "dist" ]; then
  need+=(dpkg-dev lintian devscripts git)
fi

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
