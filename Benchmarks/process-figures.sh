#!/usr/bin/env bash
# Whole-process figures of the running program on a private X desktop with a tray host, from a
# Release build:
#   start-up   time from exec to the tray icon being embedded in the tray (best and median of N runs)
#   memory     VmRSS, VmHWM and Pss of the idle process
#   wake-ups   context switches of all its threads per second while idle (default over 60 s)
# Stowbay starts holding one item, so its panel rests as the tab. The memory of the smallest Qt
# program with a tray icon (Benchmarks/minimal_tray.cpp) is measured in the same run beside it.
# Usage: Benchmarks/process-figures.sh [runs=5] [idle-seconds=60]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
idle=${2:-60}

build=${STOWBAY_RELEASE_BUILD:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTOWBAY_TESTS=OFF -DSTOWBAY_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "${STOWBAY_JOBS:-2}" --target stowbay stowbay_minimal_tray >/dev/null
program="$build/stowbay"

source scripts/lib/desktop-session.sh
home=$(mktemp -d "${TMPDIR:-/tmp}/stowbay-figures-XXXXXX")
pid=
stop_all() {
    set +e
    [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    desktop_stop
    rm -rf "$home"
}
trap stop_all EXIT
trap 'exit 1' INT TERM
desktop_start 1920x1080

now_ns() { date +%s%N; }

# The embedded icon: a window of class stowbay below the tray host's window, not a top-level one.
tray_icon_shown() {
    xwininfo -root -tree 2>/dev/null | grep -qE '^ {8,}0x[0-9a-f]+ "Stowbay": \("stowbay" "Stowbay"\)'
}

start_stowbay() {
    rm -rf "$home"/*
    mkdir -p "$home/config" "$home/data" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    mkdir -p "$home/data/Stowbay" "$home/config/Stowbay"
    printf '[General]\ndidShowWelcome=true\n' >"$home/config/Stowbay/Stowbay.conf" # not a first run
    echo kept >"$home/kept.txt"
    printf '[{"id":"6F1A3C2E-8D4B-4E5F-9A7B-1C2D3E4F5A6B","path":"%s","name":"kept.txt","addedAt":"%s","pinned":true}]' \
        "$home/kept.txt" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$home/data/Stowbay/stowbay.json"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime "$program" >/dev/null 2>&1 &
    pid=$!
}

stop_stowbay() {
    kill -TERM "$pid"
    wait "$pid" || true
    pid=
}

switches() { # voluntary + involuntary context switches of every thread of $pid
    cat /proc/"$pid"/task/*/status 2>/dev/null |
        awk '/^(voluntary|nonvoluntary)_ctxt_switches/ { n += $2 } END { print n }'
}

echo "== start-up to tray icon ($runs runs; polled every ~5 ms, so up to ~10 ms late)"
times=()
for run in $(seq 1 "$runs"); do
    t0=$(now_ns)
    start_stowbay
    until tray_icon_shown; do
        kill -0 "$pid" 2>/dev/null || { echo "stowbay exited"; exit 1; }
        [ $(( ($(now_ns) - t0) / 1000000 )) -lt 20000 ] || { echo "no tray icon after 20 s"; exit 1; }
        sleep 0.005
    done
    ms=$(( ($(now_ns) - t0) / 1000000 ))
    times+=("$ms")
    echo "run $run: ${ms} ms"
    [ "$run" -eq "$runs" ] || stop_stowbay
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
echo "best $(echo "$sorted" | head -1) ms, median $(echo "$sorted" | sed -n "$(( (runs + 1) / 2 ))p") ms"

echo "== memory of the idle process, the tab shown (after 5 s)"
sleep 5
[ "$(xwininfo -root -tree | grep -cE '16x96\+')" -gt 0 ] && echo "the tab is shown" || echo "no tab shown"
grep -E '^(VmRSS|VmHWM|Threads)' /proc/"$pid"/status
grep -E '^Pss:' /proc/"$pid"/smaps_rollup 2>/dev/null || true
"$build/Benchmarks/stowbay_minimal_tray" >/dev/null 2>&1 &
minimal=$!
sleep 5
echo "the smallest tray program beside it:"
grep -E '^(VmRSS)' /proc/"$minimal"/status
grep -E '^Pss:' /proc/"$minimal"/smaps_rollup 2>/dev/null || true
kill "$minimal"
wait "$minimal" 2>/dev/null || true

echo "== idle wake-ups over $idle s"
before=$(switches)
declare -A thread_before
for t in /proc/"$pid"/task/*; do
    thread_before[$(basename "$t")]=$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$t/status")
done
sleep "$idle"
after=$(switches)
echo "context switches: $((after - before)) in $idle s = $(awk -v n=$((after - before)) -v s="$idle" 'BEGIN { printf "%.2f", n / s }') per second"
for t in /proc/"$pid"/task/*; do
    id=$(basename "$t")
    n=$(awk '/ctxt_switches/ { n += $2 } END { print n }' "$t/status")
    printf '  thread %-8s %-20s %d\n' "$id" "$(cat "$t/comm")" $((n - ${thread_before[$id]:-0}))
done
