#!/usr/bin/env bash
# Measures the time from starting Tavrolin to its first viewable window, under Xvfb.
# Prints every run and the median. The goal is under 300 ms.
#
#   bench/app_startup.sh [path/to/tavrolin] [runs]
#
# Needs xvfb-run (package xvfb) and xwininfo (package x11-utils). The X server is started once;
# one warm-up launch is not counted. Settings and caches go to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

executable=${1:-build/release/tavrolin}
runs=${2:-11}
for tool in xvfb-run xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "app_startup: $tool is not installed" >&2
    exit 2
  fi
done
if [ ! -x "$executable" ]; then
  echo "app_startup: $executable not found; build it first (cmake --build --preset release --target tavrolin)" >&2
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache"
unset QT_QPA_PLATFORM

xvfb-run -a -s "-screen 0 1280x800x24" bash -s "$(realpath "$executable")" "$runs" <<'INNER'
set -euo pipefail
executable=$1
runs=$2
launch() {
  local start end pid
  start=$(date +%s%N)
  "$executable" >/dev/null 2>&1 &
  pid=$!
  until xwininfo -name Tavrolin 2>/dev/null | grep -q IsViewable; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "app_startup: tavrolin exited before showing its window" >&2
      exit 1
    fi
    sleep 0.002
  done
  end=$(date +%s%N)
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo $(( (end - start) / 1000000 ))
}
launch >/dev/null  # warm-up: file caches, fontconfig
times=()
for ((i = 1; i <= runs; i++)); do
  t=$(launch)
  times+=("$t")
  echo "run $i: $t ms"
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "median of $runs runs: ${sorted[$((runs / 2))]} ms (goal: under 300 ms)"
INNER
