# Sourced by scripts/run and scripts/test: starts and stops a private X desktop session
# (Xvfb, a window manager, a compositor, a tray host and a D-Bus session bus).
#   desktop_start [WIDTHxHEIGHT]   exports DISPLAY and DBUS_SESSION_BUS_ADDRESS
#   desktop_stop                   stops everything desktop_start started
# Set DESKTOP_NO_COMPOSITOR=1 or DESKTOP_NO_TRAY=1 to leave those out.

_desktop_pids=()
_desktop_dir=

desktop_start() {
    local size=${1:-1920x1080}
    _desktop_dir=$(mktemp -d "${TMPDIR:-/tmp}/stowbay-desktop-XXXXXX")
    local lib
    lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

    # Job control puts each program in its own process group, so a Ctrl-C meant for the calling
    # script does not take the display away from a program still finishing its quit sequence;
    # desktop_stop ends them.
    local had_job_control=0
    case $- in *m*) had_job_control=1 ;; esac
    set -m
    # Xvfb picks a free display number itself and writes it to the descriptor we give it.
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -ac +extension XInputExtension \
        3>"$_desktop_dir/display" >"$_desktop_dir/xvfb.log" 2>&1 &
    _desktop_pids+=($!)
    local i
    for i in $(seq 1 100); do
        [ -s "$_desktop_dir/display" ] && break
        sleep 0.05
    done
    if [ ! -s "$_desktop_dir/display" ]; then
        echo "Xvfb did not start:" >&2
        cat "$_desktop_dir/xvfb.log" >&2
        [ $had_job_control = 1 ] || set +m
        return 1
    fi
    export DISPLAY=":$(tr -d '\n' <"$_desktop_dir/display")"

    eval "$(dbus-launch --sh-syntax)"
    export DBUS_SESSION_BUS_ADDRESS
    _desktop_pids+=("$DBUS_SESSION_BUS_PID")

    openbox --config-file "$lib/openbox-rc.xml" >"$_desktop_dir/openbox.log" 2>&1 &
    _desktop_pids+=($!)
    if [ "${DESKTOP_NO_COMPOSITOR:-0}" != 1 ]; then
        picom --backend xrender --config /dev/null >"$_desktop_dir/picom.log" 2>&1 &
        _desktop_pids+=($!)
    fi
    if [ "${DESKTOP_NO_TRAY:-0}" != 1 ]; then
        tint2 -c "$lib/tint2rc" >"$_desktop_dir/tint2.log" 2>&1 &
        _desktop_pids+=($!)
    fi
    [ $had_job_control = 1 ] || set +m
    # Wait until the window manager and the tray host own their selections.
    for i in $(seq 1 100); do
        if xprop -root _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 &&
            xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window; then
            break
        fi
        sleep 0.05
    done
    if [ "${DESKTOP_NO_TRAY:-0}" != 1 ]; then
        for i in $(seq 1 100); do
            xdpyinfo >/dev/null 2>&1 && _desktop_has_tray && break
            sleep 0.05
        done
    fi
    return 0
}

_desktop_has_tray() {
    local screen=${DISPLAY#*.}
    [ "$screen" = "$DISPLAY" ] && screen=0
    # The tray host owns _NET_SYSTEM_TRAY_S<screen>; xdotool cannot ask, so look for its window.
    xprop -root _NET_SUPPORTED >/dev/null 2>&1 && xwininfo -root -tree 2>/dev/null | grep -qi tint2
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
