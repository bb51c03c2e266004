#!/usr/bin/env bash
# `make check-dist`: proves that the packages come from the source alone. Clones HEAD twice
# into two temporary folders of different names and depths, runs make dist in each (one after
# the other, the second with another umask, time zone and locale), and compares the two
# SHA256SUMS, naming each file that differs. Exit 0 only when every file is identical.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-2}
head=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "check-dist: this checkout has uncommitted changes; the check builds the commit $head only"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-check-dist.XXXXXX")
trap 'rm -rf "$work"' EXIT
first="$work/one"
second="$work/two/a-longer-folder-name"

dist_in() {  # folder log
  git clone -q --no-hardlinks . "$1"
  git -C "$1" checkout -q --detach "$head"
  # Each clone builds its own libraries from the source packages, as a new machine would, and
  # compiles every file itself: a cached object would hide a difference between the two.
  if ! env -u VARNEX_DEPS_DIR CCACHE_DISABLE=1 make -C "$1" dist JOBS="$JOBS" >"$2" 2>&1; then
    echo "check-dist: make dist failed in $1; the end of its output:" >&2
    tail -n 30 "$2" >&2
    exit 1
  fi
}

echo "check-dist: make dist of $head in $first"
dist_in "$first" "$work/one.log"
echo "check-dist: make dist of $head in $second"
(umask 027 && export TZ=Pacific/Auckland LANG=C.UTF-8 && dist_in "$second" "$work/two.log")

sums_one="$first/dist/SHA256SUMS"
sums_two="$second/dist/SHA256SUMS"
if cmp -s "$sums_one" "$sums_two"; then
  echo "check-dist: both builds gave identical files:"
  sed 's/^/  /' "$sums_one"
  exit 0
fi
echo "check-dist: the builds differ:"
join -j 2 -a 1 -a 2 -e missing -o 0,1.1,2.1 <(sort -k 2 "$sums_one") <(sort -k 2 "$sums_two") |
  while read -r name one two; do
    [ "$one" = "$two" ] || echo "  $name differs (first $one, second $two)"
  done
exit 1
