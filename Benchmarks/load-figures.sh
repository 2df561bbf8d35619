#!/usr/bin/env bash
# Figures of the program under load, from a Release build, on a private X desktop with a window
# manager and a tray host:
#   drop      10,000 files dropped on the panel at once: items held, files said refused, and the
#             longest time the main thread was kept from its loop (Benchmarks/drop_load.cpp)
#   soak      drags from the test drag source onto the real program's panel and out again with
#             "Drag all": resident memory, open files and X windows before and after
#   sigterm   runs of the real program holding three items, two files dropped on it and SIGTERM
#             at a random moment of the next 0.7 s: runs in which the stored file lost nothing
# Usage: Benchmarks/load-figures.sh [drop|soak|sigterm]... (all three when none is named)
#   SOAK_CYCLES (1000), SIGTERM_RUNS (100), DROP_FILES (10000) change the counts.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
figures=("$@")
[ ${#figures[@]} -gt 0 ] || figures=(drop soak sigterm)

build=${STOWBAY_RELEASE_BUILD:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTOWBAY_TESTS=ON -DSTOWBAY_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "${STOWBAY_JOBS:-1}" --target stowbay stowbay_drop_load stowbay_load_driver \
    stowbay_dragsource stowbay_droptarget >/dev/null

source scripts/lib/desktop-session.sh
trap desktop_stop EXIT
trap 'exit 1' INT TERM
desktop_start 1920x1080

for figure in "${figures[@]}"; do
    echo "== $figure"
    case $figure in
    drop) "$build/Benchmarks/stowbay_drop_load" "${DROP_FILES:-10000}" 3 ;;
    soak) "$build/Benchmarks/stowbay_load_driver" soak "$build/stowbay" "$build/Tests" "${SOAK_CYCLES:-1000}" ;;
    sigterm) "$build/Benchmarks/stowbay_load_driver" sigterm "$build/stowbay" "$build/Tests" "${SIGTERM_RUNS:-100}" ;;
    *) echo "unknown figure: $figure" >&2 && exit 2 ;;
    esac
done
