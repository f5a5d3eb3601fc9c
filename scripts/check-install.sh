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

# Running after three seconds counts as started; timeout then ends it (status 124).
status=0
HOME="$prefix/home" XDG_CONFIG_HOME="$prefix/config" XDG_CACHE_HOME="$prefix/cache" \
  QT_QPA_PLATFORM=offscreen timeout 3 "$prefix/bin/tavrolin" || status=$?
if [ "$status" -ne 124 ]; then
  echo "The installed tavrolin ended with status $status instead of running." >&2
  exit 1
fi
echo "Installed files are valid and the installed program starts."
