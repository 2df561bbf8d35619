# Sourced by scripts/run and scripts/test: starts and stops a private X desktop session
# (Xvfb, a window manager, a compositor, a tray host and a D-Bus session bus).
#   desktop_start [WIDTHxHEIGHT]   exports DISPLAY and DBUS_SESSION_BUS_ADDRESS
#   desktop_stop                   stops everything desktop_start started
# Set DESKTOP_NO_COMPOSITOR=1 or DESKTOP_NO_TRAY=1 to leave those out.

_desktop_pids=()
_desktop_dir=

# A helper that cannot open the display leaves a session that looks whole but is not (no tray, no
# window manager), and a test would wait in vain: the session is checked, and started afresh.
desktop_start() {
    local attempt
    for attempt in 1 2 3; do
        _desktop_start_once "$@" && return 0
        local status=$?
        desktop_stop
        [ $status = 2 ] && return 1 # the X server itself did not start: nothing to try again
        echo "desktop_start: the test desktop was not whole (attempt $attempt); starting a fresh one" >&2
    done
    echo "desktop_start: no whole test desktop after $attempt attempts" >&2
    return 1
}

_desktop_start_once() {
    local size=${1:-1920x1080}
    _desktop_dir=$(mktemp -d "${TMPDIR:-/tmp}/stowbay-desktop-XXXXXX")
    local lib
    lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    # Asks the server for selection owners, which no installed tool does.
    if ! cc -o "$_desktop_dir/selection-owner" "$lib/selection-owner.c" -lX11 2>"$_desktop_dir/cc.log"; then
        cat "$_desktop_dir/cc.log" >&2
        return 2
    fi

    # Job control puts each program in its own process group, so a Ctrl-C meant for the calling
    # script does not take the display away from a program still finishing its quit sequence;
    # desktop_stop ends them.
    local had_job_control=0
    case $- in *m*) had_job_control=1 ;; esac
    set -m
    # Xvfb gets a display number of its own, away from the low numbers that desktops and other
    # programs take first (a server just ending there can still answer its clients), and writes it
    # to the descriptor we give it once it is ready. A number taken meanwhile: the next one.
    local i n first=$((40 + RANDOM % 400)) xvfb
    for n in $(seq "$first" $((first + 20))); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -displayfd 3 -noreset -screen 0 "${size}x24" -nolisten tcp -ac +extension XInputExtension \
            3>"$_desktop_dir/display" >"$_desktop_dir/xvfb.log" 2>&1 &
        xvfb=$!
        for i in $(seq 1 100); do
            [ -s "$_desktop_dir/display" ] || ! kill -0 $xvfb 2>/dev/null && break
            sleep 0.05
        done
        [ -s "$_desktop_dir/display" ] && break
        kill $xvfb 2>/dev/null
        wait $xvfb 2>/dev/null
    done
    _desktop_pids+=($xvfb)
    if [ ! -s "$_desktop_dir/display" ]; then
        echo "Xvfb did not start:" >&2
        cat "$_desktop_dir/xvfb.log" >&2
        [ $had_job_control = 1 ] || set +m
        return 2
    fi
    export DISPLAY=":$(tr -d '\n' <"$_desktop_dir/display")"

    eval "$(dbus-launch --sh-syntax)"
    export DBUS_SESSION_BUS_ADDRESS
    _desktop_pids+=("$DBUS_SESSION_BUS_PID")

    # name:pid of each helper, and the selections it must own once it runs.
    local helpers=() selections=()
    openbox --config-file "$lib/openbox-rc.xml" >"$_desktop_dir/openbox.log" 2>&1 &
    _desktop_pids+=($!)
    helpers+=("openbox:$!")
    if [ "${DESKTOP_NO_COMPOSITOR:-0}" != 1 ]; then
        picom --backend xrender --config /dev/null >"$_desktop_dir/picom.log" 2>&1 &
        _desktop_pids+=($!)
        helpers+=("picom:$!")
        selections+=(_NET_WM_CM_S0)
    fi
    if [ "${DESKTOP_NO_TRAY:-0}" != 1 ]; then
        tint2 -c "$lib/tint2rc" >"$_desktop_dir/tint2.log" 2>&1 &
        _desktop_pids+=($!)
        helpers+=("tint2:$!")
        selections+=(_NET_SYSTEM_TRAY_S0)
    fi
    [ $had_job_control = 1 ] || set +m

    # Every helper runs and owns what it should: the window manager's check window, the
    # compositor's and the tray's selections. Up to 10 s on a busy machine.
    local helper missing=
    for i in $(seq 1 200); do
        missing=
        for helper in "${helpers[@]}"; do
            kill -0 "${helper#*:}" 2>/dev/null || missing="${helper%%:*} (exited)"
            [ -n "$missing" ] && break
        done
        [ -n "$missing" ] && break
        if ! xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
            missing="openbox (no _NET_SUPPORTING_WM_CHECK)"
        elif [ ${#selections[@]} -gt 0 ] && ! "$_desktop_dir/selection-owner" "${selections[@]}" >"$_desktop_dir/unowned"; then
            missing="no owner of $(tr '\n' ' ' <"$_desktop_dir/unowned")"
        else
            return 0
        fi
        sleep 0.05
    done
    echo "desktop_start: the test desktop on $DISPLAY is not whole: $missing" >&2
    local log
    for log in "$_desktop_dir"/*.log; do
        [ -s "$log" ] || continue
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
    return 1
}

desktop_stop() {
    local pid
    for pid in "${_desktop_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${_desktop_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    _desktop_pids=()
    [ -n "$_desktop_dir" ] && rm -rf "$_desktop_dir"
    _desktop_dir=
}
