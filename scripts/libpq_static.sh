#!/usr/bin/env bash
# Builds PostgreSQL's client library, libpq, as static libraries for the builds that link
# everything in (Windows i686, Linux arm64 and the x86-64 release), from Debian's own source
# package of the very version the development build's libpq-dev is. Run by scripts/setup.sh.
# Without OpenSSL, zlib, readline, ICU, GSSAPI and LDAP: the programs then need nothing beyond
# the C library (Linux) and Windows' own DLLs; SCRAM-SHA-256 needs none of them.
#   libpq_static.sh ROOT VERSION    ROOT/<target>/{include,lib} for each target
set -euo pipefail
ROOT=$1
VERSION=$2                  # Debian's version, e.g. 15.18-0+deb12u1
UPSTREAM=${VERSION%%-*}     # 15.18

# The libraries libpq needs of PostgreSQL's own tree, in link order.
LIBS=(libpq.a libpgcommon_shlib.a libpgport_shlib.a)
# libpq's own thread emulation on Windows would take these names from the C++ runtime's
# threads: they are renamed inside libpq.
WIN_PTHREAD_NAMES=(pthread_getspecific pthread_mutex_init pthread_mutex_lock pthread_mutex_unlock pthread_self pthread_setspecific)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source -qq "postgresql-15=$VERSION" >/dev/null 2>&1
src="$work/postgresql-15-$UPSTREAM"
[ -d "$src" ] || { echo "libpq: the source of postgresql-15 $VERSION was not fetched" >&2; exit 1; }

build_target() {  # target configure-host CC CFLAGS
  local target=$1 host=$2 cc=$3 cflags=$4
  local build="$work/build-$target" out="$work/out/$target"
  mkdir -p "$build" "$out/include" "$out/lib"
  echo "setup: libpq $UPSTREAM for $target"
  # The build folder's name never reaches the objects, so that two machines make the same.
  (cd "$build" && "$src/configure" ${host:+--host=$host} CC="$cc" \
    CFLAGS="$cflags -ffile-prefix-map=$src=postgresql -ffile-prefix-map=$build=postgresql" \
    --without-readline --without-zlib --without-openssl --without-icu --without-gssapi \
    --without-ldap --without-llvm --disable-nls >"$build/configure.log" 2>&1) || {
    tail -n 20 "$build/configure.log" >&2
    exit 1
  }
  # PostgreSQL makes its generated headers (utils/errcodes.h) only when its make is the top
  # level; started from our make it would not be, so its make runs with a clean environment.
  env -u MAKELEVEL -u MAKEFLAGS -u MFLAGS -u MAKEOVERRIDES \
    make -s -C "$build/src/interfaces/libpq" -j "${JOBS:-2}" >"$build/make.log" 2>&1 || {
    tail -n 20 "$build/make.log" >&2
    exit 1
  }
  local libpq="$build/src/interfaces/libpq"
  if [ "$target" = i686-w64-mingw32 ]; then
    # On Windows PostgreSQL makes libpq.a an import library of its DLL: the objects are
    # archived here instead, with the thread emulation's names made libpq's own.
    local renames=() name objects=()
    for name in "${WIN_PTHREAD_NAMES[@]}"; do renames+=(--redefine-sym "_$name=_varnex_pq_$name"); done
    for name in "$libpq"/*.o; do
      [ "$(basename "$name")" = win32ver.o ] && continue
      i686-w64-mingw32-objcopy "${renames[@]}" "$name" "$work/$(basename "$name")"
      objects+=("$work/$(basename "$name")")
    done
    (cd "$work" && i686-w64-mingw32-ar crD "$out/lib/libpq.a" $(printf '%s\n' "${objects[@]}" | xargs -n1 basename | LC_ALL=C sort))
    rm -f "${objects[@]}"
  else
    cp "$libpq/libpq.a" "$out/lib/"
  fi
  cp "$build/src/common/libpgcommon_shlib.a" "$build/src/port/libpgport_shlib.a" "$out/lib/"
  cp "$src/src/interfaces/libpq/libpq-fe.h" "$src/src/include/postgres_ext.h" \
    "$build/src/include/pg_config_ext.h" "$out/include/"
}

linux_hardening="-O2 -fPIC -fstack-protector-strong -D_FORTIFY_SOURCE=2"
build_target i686-w64-mingw32 i686-w64-mingw32 i686-w64-mingw32-gcc-posix "-O2"
build_target x86_64-linux-gnu "" gcc "$linux_hardening -fstack-clash-protection -fcf-protection"
build_target aarch64-linux-gnu aarch64-linux-gnu "clang --target=aarch64-linux-gnu" "$linux_hardening -mbranch-protection=standard"
cp "$src/COPYRIGHT" "$work/out/"
echo "$VERSION" >"$work/out/VERSION"

rm -rf "$ROOT"
mkdir -p "$(dirname "$ROOT")"
cp -r "$work/out" "$ROOT"
