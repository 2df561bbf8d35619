#!/usr/bin/env bash
# Whole-process figures of the running program on a private X desktop with a tray host, from a
# Release build, beside the smallest Qt program with a tray icon (Benchmarks/minimal_tray.cpp)
# measured the same way in the same run:
#   start-up   time from exec to the tray icon being embedded in the tray (best and median of N runs,
#              the two programs' runs taking turns)
#   to idle    time from exec until the process's CPU time stops growing for 300 ms
#   memory     VmRSS and Pss 5 s after start
#   wake-ups   context switches of all its threads per second while idle (default over 30 s)
#   pointer    CPU time while the pointer moves at 1000 events per second for 10 s, no drag
# Stowbay starts as a returning user's would: holding one item, so its panel rests as the tab.
# Usage: Benchmarks/process-figures.sh [runs=5] [idle-seconds=30]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-5}
idle_s=${2:-30}

build=${STOWBAY_RELEASE_BUILD:-$root/build-release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSTOWBAY_TESTS=OFF -DSTOWBAY_BENCHMARKS=ON >/dev/null
cmake --build "$build" -j "${STOWBAY_JOBS:-2}" --target stowbay stowbay_minimal_tray stowbay_pointer_mover >/dev/null

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

# The embedded icon of a program of WM class $1: a window below the tray host's, not a top-level one.
tray_icon_shown() {
    [ "$(xwininfo -root -tree 2>/dev/null | grep -cE "^ {8,}0x[0-9a-f]+ \"[^\"]*\": \(\"$1\" ")" -gt 0 ]
}

start() { # $1: the program
    rm -rf "$home"/*
    mkdir -p "$home/config/Stowbay" "$home/data/Stowbay" "$home/cache" "$home/runtime"
    chmod 700 "$home/runtime"
    printf '[General]\ndidShowWelcome=true\n' >"$home/config/Stowbay/Stowbay.conf" # not a first run
    echo kept >"$home/kept.txt"
    printf '[{"id":"6F1A3C2E-8D4B-4E5F-9A7B-1C2D3E4F5A6B","path":"%s","name":"kept.txt","addedAt":"%s","pinned":true}]' \
        "$home/kept.txt" "$(date -u +%Y-%m-%dT%H:%M:%SZ)" >"$home/data/Stowbay/stowbay.json"
    HOME=$home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data XDG_CACHE_HOME=$home/cache \
        XDG_RUNTIME_DIR=$home/runtime "$1" >/dev/null 2>&1 &
    pid=$!
}

stop() {
    kill -TERM "$pid"
    wait "$pid" || true
    pid=
}

cpu_ticks() { awk '{ print $14 + $15 }' /proc/"$pid"/stat; }
# "tid count" for every thread of $pid: its voluntary + involuntary context switches.
thread_switches() {
    for t in /proc/"$pid"/task/*; do
        echo "$(basename "$t") $(awk '/ctxt_switches/ { n += $2 } END { print n }' "$t/status" 2>/dev/null)"
    done
}

# launch PROGRAM CLASS: starts it and waits for its tray icon; sets shown_ms and idle_ms, the time from
# exec to the icon and to idle (the last moment the CPU time grew, once it has not for 300 ms).
launch() {
    local t0 last ticks now quiet
    t0=$(now_ns)
    start "$1"
    until tray_icon_shown "$2"; do
        kill -0 "$pid" 2>/dev/null || { echo "$1 exited" >&2; exit 1; }
        [ $(( ($(now_ns) - t0) / 1000000 )) -lt 20000 ] || { echo "no tray icon after 20 s" >&2; exit 1; }
        sleep 0.005
    done
    shown_ms=$(( ($(now_ns) - t0) / 1000000 ))
    last=$(now_ns) ticks=$(cpu_ticks) quiet=0
    while [ $quiet -lt 30 ]; do
        sleep 0.01
        now=$(cpu_ticks)
        if [ "$now" != "$ticks" ]; then ticks=$now last=$(now_ns) quiet=0; else quiet=$((quiet + 1)); fi
    done
    idle_ms=$(( (last - t0) / 1000000 ))
}

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

# The start-up runs of the two programs take turns, so that both meet the same machine.
programs=("$build/Benchmarks/stowbay_minimal_tray" "$build/stowbay")
classes=(stowbay_minimal_tray stowbay)
declare -a shown idle
for run in $(seq 1 "$runs"); do
    for i in 0 1; do
        launch "${programs[$i]}" "${classes[$i]}"
        shown[$i]+="$shown_ms " idle[$i]+="$idle_ms "
        stop
    done
done

for i in 0 1; do
    [ "$i" -eq 0 ] && echo "== the smallest tray program" || echo "== Stowbay"
    # shellcheck disable=SC2086
    echo "start-up to tray icon: best $(printf '%s\n' ${shown[$i]} | sort -n | head -1) ms, median $(median ${shown[$i]}) ms (${shown[$i]% })"
    # shellcheck disable=SC2086
    echo "start-up to idle:      median $(median ${idle[$i]}) ms (${idle[$i]% })"
    launch "${programs[$i]}" "${classes[$i]}"
    sleep 5
    echo "memory 5 s after start: $(awk '/^VmRSS/ { print $2 " kB RSS" }' /proc/"$pid"/status), $(awk '/^Pss:/ { print $2 " kB Pss" }' /proc/"$pid"/smaps_rollup)"
    [ "$i" -eq 0 ] || { [ "$(xwininfo -root -tree | grep -cE '16x96\+')" -gt 0 ] && echo "the tab is shown"; }

    thread_switches >"$home/before"
    sleep "$idle_s"
    thread_switches >"$home/after"
    # Threads that ended meanwhile drop out; a new thread counts from zero.
    woken=$(awk 'NR == FNR { b[$1] = $2; next } { n += $2 - b[$1] } END { print n }' "$home/before" "$home/after")
    echo "idle wake-ups: $woken in $idle_s s = $(awk -v n="$woken" -v s="$idle_s" 'BEGIN { printf "%.3f", n / s }') per second"

    before=$(cpu_ticks)
    "$build/Benchmarks/stowbay_pointer_mover" 1000 10 >/dev/null
    after=$(cpu_ticks)
    echo "pointer moving 10 s, no drag: $(( (after - before) * 1000 / $(getconf CLK_TCK) )) ms CPU"
    stop
done
