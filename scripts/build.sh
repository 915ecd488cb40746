#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh BUILD_DIR [extra cmake arguments].
# BUILD_TARGETS (blank-separated) limits the build to those targets.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build}
shift || true
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
# Rebuilds of other checkouts (worktrees, CI's clone) reuse compiled objects; paths below the
# checkout are hashed relative to it.
if command -v ccache >/dev/null; then
  generator+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
fi
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$dir" "${generator[@]}" "$@"
else
  cmake -S "$root" -B "$dir" "$@" >/dev/null
fi
targets=()
for target in ${BUILD_TARGETS:-}; do targets+=(--target "$target"); done
cmake --build "$dir" "${targets[@]}" -j"$(nproc)"
