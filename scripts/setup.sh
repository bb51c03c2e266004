#!/usr/bin/env bash
# Installs what the build, the tests and the run command need on a Debian machine
# (`setup.sh dist`: and make dist).
# Idempotent and quick when everything is already there. The libraries built from Debian's
# source packages go into VARNEX_DEPS_DIR (the Makefile gives BUILD_DIR/deps), never into a
# system folder that would outlive the checkout and hide a broken step from the next clean build.
set -euo pipefail
DEPS_DIR=$(realpath -m "${VARNEX_DEPS_DIR:-$(dirname "$0")/../build/deps}")
mkdir -p "$DEPS_DIR"

need=(
  cmake make g++ gcc-multilib clang libclang-rt-14-dev python3
  clang-format-14
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  googletest libgtest-dev
  wine wine64 wine32:i386 libwine:i386
  xvfb xauth x11-utils imagemagick fonts-liberation
  procps psmisc socat ser2net
  # The compiler cache the Makefile hands CMake, shared by every clone of the checkout.
  ccache
  # The station's board is tested in a real terminal: tmux, read back with capture-pane.
  tmux
  # The station service's unit file is checked with systemd-analyze verify (no running systemd needed).
  systemd
  libcli11-dev nlohmann-json3-dev libtomlplusplus-dev libssl-dev
  # The records file: Debian's SQLite library for the native builds; its source package, made
  # into one C file with tclsh, for the static Windows, arm64 and release builds (below).
  libsqlite3-dev sqlite3 tcl8.6 dpkg-dev
  # The line's records server: Debian's libpq for the native builds (with TLS); its source
  # package, built without any other library, for the static builds (below). The tests start a
  # throwaway PostgreSQL 15 of their own.
  libpq-dev postgresql-15 pkg-config
  # Keyboard-mode barcode scanners on Linux, read from their event devices.
  libevdev-dev
  # The metrics pages are scraped by Debian's Prometheus in the tests, and checked by its promtool.
  prometheus
  python3-pytest python3-pytest-timeout python3-matplotlib python3-pil
  # The arm64 varnex: clang with Debian's arm64 libraries (g++-aarch64-linux-gnu cannot be
  # installed beside gcc-multilib), run by qemu-user.
  libc6-dev-arm64-cross libstdc++-12-dev-arm64-cross libgcc-12-dev-arm64-cross
  binutils-aarch64-linux-gnu qemu-user-static
  # The web board's tests: a real browser (Debian's own; none is ever downloaded), driven from
  # Node by playwright-core (tests/browser/package-lock.json).
  chromium
)
# Node and npm, unless the machine already has them (from Debian or another source).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  need+=(nodejs npm)
fi
# `setup.sh dist` adds what make dist checks the packages with.
if [ "${1:-}" = "dist" ]; then
  need+=(lintian devscripts git)
fi

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${need[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# A deb-src line for each archive the machine already uses, for the source packages below.
add_source_archives() {
  local sources=/etc/apt/sources.list.d/debian.sources
  if [ -f "$sources" ]; then
    sed -n '/^Types: deb$/,/^$/p' "$sources" | sed 's/^Types: deb$/Types: deb-src/' |
      $SUDO tee /etc/apt/sources.list.d/varnex-deb-src.sources >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $SUDO tee /etc/apt/sources.list.d/varnex-deb-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
}

# Makes Debian's source package PACKAGE of VERSION fetchable.
need_source() {
  apt-cache showsrc "$1" 2>/dev/null | grep -qx "Version: $2" || add_source_archives
}

# SQLite for the builds that link it statically, from Debian's own source package of the very
# version the native library is (one SQLite for every target), made once into the single C
# file that CMake compiles (VARNEX_SQLITE_SOURCE, default below).
SQLITE_UPSTREAM=3.40.1
SQLITE_ROOT=$DEPS_DIR/sqlite3
sqlite_version=$(dpkg-query -W -f='${Version}' libsqlite3-dev)
if [ "${sqlite_version%%-*}" != "$SQLITE_UPSTREAM" ]; then
  echo "setup: libsqlite3-dev is $sqlite_version; the builds are pinned to SQLite $SQLITE_UPSTREAM" >&2
  exit 1
fi
if [ "$(cat "$SQLITE_ROOT/amalgamation/VERSION" 2>/dev/null)" != "$sqlite_version" ]; then
  echo "setup: SQLite $sqlite_version from Debian's source package into $SQLITE_ROOT"
  need_source sqlite3 "$sqlite_version"
  work=$(mktemp -d)
  (
    cd "$work"
    apt-get source -qq "sqlite3=$sqlite_version" >/dev/null 2>&1
    mkdir build && cd build
    "../sqlite3-$SQLITE_UPSTREAM/configure" --disable-tcl >/dev/null
    make -s sqlite3.c >/dev/null
  )
  rm -rf "$SQLITE_ROOT/amalgamation"
  mkdir -p "$SQLITE_ROOT/amalgamation"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$work/sqlite3-$SQLITE_UPSTREAM/LICENSE.md" "$SQLITE_ROOT/amalgamation/"
  echo "$sqlite_version" >"$SQLITE_ROOT/amalgamation/VERSION"
  rm -rf "$work"
fi

# The web board's HTTP server, civetweb, from Debian's source package (with Debian's patches),
# compiled into varnex by CMake from VARNEX_CIVETWEB_SOURCE (default below): one server for
# every target, nothing of it kept in the checkout.
CIVETWEB_UPSTREAM=1.15
CIVETWEB_ROOT=$DEPS_DIR/civetweb
civetweb_source_version() { apt-cache showsrc civetweb 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n 1; }
civetweb_version=$(civetweb_source_version)
if [ -z "$civetweb_version" ]; then
  add_source_archives
  civetweb_version=$(civetweb_source_version)
fi
if [ -z "$civetweb_version" ] || [ "${civetweb_version%%+*}" != "$CIVETWEB_UPSTREAM" ]; then
  echo "setup: Debian's civetweb source is '${civetweb_version:-missing}'; the builds are pinned to civetweb $CIVETWEB_UPSTREAM" >&2
  exit 1
fi
if [ "$(cat "$CIVETWEB_ROOT/source/VERSION" 2>/dev/null)" != "$civetweb_version" ]; then
  echo "setup: civetweb $civetweb_version from Debian's source package into $CIVETWEB_ROOT"
  work=$(mktemp -d)
  (cd "$work" && apt-get source -qq "civetweb=$civetweb_version" >/dev/null 2>&1)
  unpacked=$(find "$work" -maxdepth 1 -type d -name "civetweb-$CIVETWEB_UPSTREAM*" | head -n 1)
  if [ ! -f "$unpacked/src/civetweb.c" ]; then
    echo "setup: apt-get source civetweb=$civetweb_version gave no src/civetweb.c" >&2
    exit 1
  fi
  rm -rf "$CIVETWEB_ROOT/source"
  mkdir -p "$CIVETWEB_ROOT/source"
  cp "$unpacked"/src/civetweb.c "$unpacked"/src/*.inl "$unpacked"/include/civetweb.h \
    "$unpacked"/LICENSE.md "$CIVETWEB_ROOT/source/"
  echo "$civetweb_version" >"$CIVETWEB_ROOT/source/VERSION"
  rm -rf "$work"
fi

# The browser tests' Node packages, exactly as the lock file pins them (npm ci: from the
# registry, checked against the lock's integrity hashes); playwright-core downloads no browser.
BROWSER_TESTS="$(dirname "$0")/../tests/browser"
# The lock file is copied beside the packages once they are in, so a changed lock installs again.
BROWSER_STAMP="$BROWSER_TESTS/node_modules/.varnex-installed-lock.json"
if [ -f "$BROWSER_TESTS/package-lock.json" ] && ! cmp -s "$BROWSER_TESTS/package-lock.json" "$BROWSER_STAMP"; then
  echo "setup: npm ci in tests/browser"
  (cd "$BROWSER_TESTS" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  cp "$BROWSER_TESTS/package-lock.json" "$BROWSER_STAMP"
fi

# libpq for the builds that link statically, from Debian's source package of the version that
# libpq-dev is (one libpq for every target), built once into DEPS_DIR/libpq/<target>.
LIBPQ_ROOT=$DEPS_DIR/libpq
libpq_version=$(dpkg-query -W -f='${Version}' libpq-dev)
if [ "${libpq_version%%.*}" != 15 ]; then
  echo "setup: libpq-dev is $libpq_version; the builds are made with PostgreSQL 15's libpq" >&2
  exit 1
fi
if [ "$(cat "$LIBPQ_ROOT/VERSION" 2>/dev/null)" != "$libpq_version" ]; then
  need_source postgresql-15 "$libpq_version"
  bash "$(dirname "$0")/libpq_static.sh" "$LIBPQ_ROOT" "$libpq_version"
fi
