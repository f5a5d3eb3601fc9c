#!/usr/bin/env bash
# Installs a build into a temporary prefix, validates the desktop entry and the AppStream
# metainfo there, and checks that the installed program starts and keeps running.
# Usage: scripts/check-install.sh [build folder, default build/dev]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/dev}"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" > /dev/null
desktop-file-validate "$prefix/share/applications/app.tavrolin.Tavrolin.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/app.tavrolin.Tavrolin.metainfo.xml"
test -s "$prefix/share/icons/hicolor/scalable/apps/app.tavrolin.Tavrolin.svg"

# The modules sit in lib/tavrolin, and every library they need is there.
for module in framedecoder playback speech; do
  file="$prefix/lib/tavrolin/libtavrolin-$module.so"
  test -s "$file" || { echo "The module $file was not installed." >&2; exit 1; }
  if ldd "$file" | grep -q "not found"; then
    echo "The module $file misses libraries:" >&2
    ldd "$file" | grep "not found" >&2
    exit 1
  fi
done

# Running after three seconds counts as started. It opens on Transcribe, which checks its
# languages once the window has painted: that loads the speech module, from the prefix.
mkdir -p "$prefix/config/Tavrolin"
printf '[General]\nlastWorkspaceSection=transcribe\n' > "$prefix/config/Tavrolin/Tavrolin.conf"
HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/config" XDG_CACHE_HOME="$prefix/cache" \
  QT_QPA_PLATFORM=offscreen "$prefix/bin/tavrolin" &
pid=$!
loaded=no
for ((i = 0; i < 600; i++)); do
  if grep -q "$prefix/lib/tavrolin/libtavrolin-speech.so" "/proc/$pid/maps" 2>/dev/null; then
    loaded=yes
    break
  fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
sleep 3
if ! kill -0 "$pid" 2>/dev/null; then
  status=0
  wait "$pid" || status=$?
  echo "The installed tavrolin ended with status $status instead of running." >&2
  exit 1
fi
kill -TERM "$pid"
wait "$pid" || true
if [ "$loaded" != yes ]; then
  echo "The installed tavrolin did not load its speech module from $prefix/lib/tavrolin." >&2
  exit 1
fi
echo "Installed files are valid and the installed program starts and finds its modules."
