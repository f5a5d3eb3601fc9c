#!/usr/bin/env bash
# Measures the time from starting Tavrolin to its first visible main window, against a bare Qt
# Widgets window (bench_bare_window) started alternately in the same X server and session bus,
# and the resident set of each four seconds after start. Prints every run, the medians, their
# ratio and the memory ratio. The goal is a ratio of at most 1.5 for both.
#
#   bench/app_startup.sh [build folder, default build/release] [runs, default 11]
#
# Needs Xvfb (xvfb), xdotool and dbus-run-session (dbus). One warm-up launch of each is not
# counted. Settings and caches go to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
runs=${2:-11}
for tool in Xvfb xdotool dbus-run-session; do
  if ! command -v "$tool" >/dev/null; then
    echo "app_startup: $tool is not installed (scripts/setup.sh installs it)" >&2
    exit 2
  fi
done
for program in tavrolin bench/bench_bare_window; do
  if [ ! -x "$build/$program" ]; then
    echo "app_startup: $build/$program not found; build it first" \
         "(cmake --build --preset release --target tavrolin bench_bare_window)" >&2
    exit 2
  fi
done

scratch=$(mktemp -d)
server=
trap '[ -z "$server" ] || { kill "$server"; wait "$server"; } 2>/dev/null; rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_CACHE_HOME="$scratch/cache" TMPDIR="$scratch"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# A server of its own: Xvfb picks a free number itself and writes it to the pipe once it takes
# clients, so servers started at the same time never race for one.
mkfifo "$scratch/display"
Xvfb -displayfd 3 -nolisten tcp -noreset -screen 0 1280x800x24 3>"$scratch/display" \
  2>"$scratch/xvfb.log" &
server=$!
read -r number <"$scratch/display" || { echo "app_startup: Xvfb did not start:" >&2
                                        tail -5 "$scratch/xvfb.log" >&2; exit 1; }
export DISPLAY=":$number"
dbus-run-session -- bash -s \
  "$(realpath "$build/tavrolin")" "$(realpath "$build/bench/bench_bare_window")" "$runs" <<'INNER'
set -euo pipefail
tavrolin=$1
bare=$2
runs=$3

# Starts a program, waits for its visible window of that title (Qt also makes a hidden 1x1
# window of the same name) and prints the milliseconds; `settle` seconds later, its resident
# set in kB on the second line.
launch() {
  local program=$1 title=$2 settle=${3:-0} start end pid
  start=$(date +%s%N)
  "$program" >/dev/null 2>"$TMPDIR/stderr" &
  pid=$!
  until xdotool search --onlyvisible --pid "$pid" --name "^$title\$" >/dev/null 2>&1; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "app_startup: $program exited before showing its window:" >&2
      tail -5 "$TMPDIR/stderr" >&2
      exit 1
    fi
    sleep 0.002
  done
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
  if [ "$settle" != 0 ]; then
    sleep "$settle"
    awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status"
  fi
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

launch "$tavrolin" Tavrolin >/dev/null  # warm-up: file caches, fontconfig
launch "$bare" "Bare Qt window" >/dev/null
app=() base=()
for ((i = 1; i <= runs; i++)); do
  a=$(launch "$tavrolin" Tavrolin)
  b=$(launch "$bare" "Bare Qt window")
  app+=("$a") base+=("$b")
  echo "run $i: Tavrolin $a ms, bare window $b ms"
done
ma=$(median "${app[@]}")
mb=$(median "${base[@]}")
echo "median of $runs runs: Tavrolin $ma ms, bare window $mb ms," \
     "ratio $(awk -v a="$ma" -v b="$mb" 'BEGIN { printf "%.2f", a / b }') (goal: at most 1.5)"
ra=$(launch "$tavrolin" Tavrolin 4 | tail -1)
rb=$(launch "$bare" "Bare Qt window" 4 | tail -1)
echo "resident set 4 s after start: Tavrolin $((ra / 1024)) MB, bare window $((rb / 1024)) MB," \
     "ratio $(awk -v a="$ra" -v b="$rb" 'BEGIN { printf "%.2f", a / b }') (goal: at most 1.5)"
INNER
