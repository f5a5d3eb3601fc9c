#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and launches Tavrolin.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake --preset release
cmake --build --preset release --target tavrolin
exec ./build/release/tavrolin "$@"
