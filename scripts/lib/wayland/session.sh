#!/usr/bin/env bash
# Runs COMMAND on a headless Wayland compositor with XWayland and a virtual pointer, as a desktop
# of that family would: kwin (KDE Plasma), sway, labwc, mutter (GNOME's compositor alone, with a stand-in
# for GNOME's shortcut service) or gnome (GNOME Shell, with GNOME's own portal). It all runs in a
# private mount and network namespace, with a fresh /tmp and loopback alone, so that the X display
# XWayland takes never meets another session's; everything stops when COMMAND ends.
#   scripts/lib/wayland/session.sh kwin|sway|labwc|mutter|gnome COMMAND [ARG...]
# COMMAND sees WAYLAND_DISPLAY, DISPLAY, XAUTHORITY (mutter, gnome), XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP, XDG_SESSION_TYPE, WL_SESSION (the session's name
# above), WL_SIZE (WIDTHxHEIGHT) and WL_INPUT, a FIFO that takes the commands of input.c (on mutter
# and gnome, of mutter-input.py).
# Logs go to ${WL_LOGS:-./wayland-logs}/NAME (not under /tmp).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
which=${1:?usage: session.sh kwin|sway|labwc|mutter|gnome COMMAND...}
shift
if [ -z "${STOWBAY_WL_NAMESPACE:-}" ]; then
    # Outside /tmp, which the namespace replaces.
    export WL_LOGS=$(realpath -m "${WL_LOGS:-wayland-logs}/$which")
    mkdir -p "$WL_LOGS"
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(--map-root-user)
    STOWBAY_WL_NAMESPACE=1 exec unshare "${as_root[@]}" --mount --net --fork --kill-child=SIGTERM \
        -- "$0" "$which" "$@"
fi
mount --make-rprivate /
# A fresh /tmp, with what must stay reachable under the old one bound back in at its path: the
# checkout (and the build in it), the current folder and the logs.
exec 9</tmp
hold=$(mktemp -d /tmp/stowbay-wayland.XXXXXX)
mount -t tmpfs -o mode=1777 stowbay-wayland "$hold"
for keep in "$(cd "$here/../../.." && pwd)" "$PWD" "$WL_LOGS"; do
    case "$keep" in /tmp/*) mkdir -p "$hold/${keep#/tmp/}" && mount --rbind "$keep" "$hold/${keep#/tmp/}" ;; esac
done
mount --move "$hold" /tmp
rmdir "/proc/self/fd/9/${hold#/tmp/}" 2>/dev/null || true
exec 9<&-
mkdir -m 1777 /tmp/.X11-unix /tmp/.ICE-unix
ip link set lo up 2>/dev/null || true

export WL_SESSION=$which WL_SIZE=${WL_SIZE:-1440x900}
W=${WL_SIZE%x*} H=${WL_SIZE#*x}
export XDG_RUNTIME_DIR=/tmp/runtime HOME=/tmp/home XDG_SESSION_TYPE=wayland
mkdir -m 700 "$XDG_RUNTIME_DIR" "$HOME"
unset DISPLAY WAYLAND_DISPLAY XAUTHORITY SWAYSOCK
bin=/tmp/bin
mkdir "$bin"
log() { echo "$(date +%T.%N | cut -c1-12) $*" >>"$WL_LOGS/session.log"; }
: >"$WL_LOGS/session.log"
waitfor() { # waitfor SECONDS TEST...
    local n=$(($1 * 20))
    shift
    until "$@" >/dev/null 2>&1; do
        n=$((n - 1))
        [ $n -gt 0 ] || return 1
        sleep 0.05
    done
}
pids=()
stop() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
    for i in $(seq 50); do kill -0 "${pids[@]}" 2>/dev/null || return 0; sleep 0.1; done
    kill -KILL "${pids[@]}" 2>/dev/null || true
}
trap stop EXIT
trap 'exit 143' TERM INT

# The virtual pointer, built for this session.
gen() { wayland-scanner client-header "$1" "$bin/$2-client.h" && wayland-scanner private-code "$1" "$bin/$2.c"; }
gen /usr/share/plasma-wayland-protocols/fake-input.xml fake-input
gen "$here/wlr-virtual-pointer.xml" wlr-virtual-pointer
cc -O1 -I "$bin" -o "$bin/input" "$here/input.c" "$bin/fake-input.c" "$bin/wlr-virtual-pointer.c" \
    $(pkg-config --cflags --libs wayland-client)
log "input built"
input=("$bin/input" "$W" "$H")

# The session bus every desktop session has.
dbus-daemon --session --fork --print-pid --address="unix:path=$XDG_RUNTIME_DIR/bus" >"$bin/dbus.pid"
pids+=("$(cat "$bin/dbus.pid")")
export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
case $which in
kwin)
    export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true
    # The packaged program carries a file capability that a container may not grant (exec fails
    # with "Operation not permitted"); a copy has none, and must keep its name.
    cp /usr/bin/kwin_wayland "$bin/kwin_wayland"
    # Without permission checks KWin offers its fake input to any client.
    KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 "$bin/kwin_wayland" --virtual --xwayland --width "$W" --height "$H" \
        --no-lockscreen >"$WL_LOGS/compositor.log" 2>&1 &
    pids+=($!)
    ;;
sway)
    export XDG_CURRENT_DESKTOP=sway
    # sway will not run as root, and its X server then turns away clients of another user.
    printf '#!/bin/sh\nexec Xwayland "$@" -ac\n' >"$bin/xwayland"
    chmod 755 "$bin/xwayland"
    printf 'xwayland force\noutput HEADLESS-1 resolution %s position 0 0\ndefault_border none\n' "$WL_SIZE" \
        >"$bin/sway.cfg"
    run_as=()
    if [ "$(id -u)" -eq 0 ]; then
        chown 4242:4242 "$XDG_RUNTIME_DIR"
        run_as=(setpriv --reuid=4242 --regid=4242 --clear-groups)
    fi
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 WLR_XWAYLAND=$bin/xwayland \
        "${run_as[@]}" sway -c "$bin/sway.cfg" >"$WL_LOGS/compositor.log" 2>&1 &
    pids+=($!)
    ;;
labwc)
    # A second desktop of the wlroots family, with no configuration of the user's: the name it
    # gives what it starts.
    export XDG_CURRENT_DESKTOP=labwc:wlroots
    mkdir "$bin/labwc"
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 labwc -C "$bin/labwc" \
        >"$WL_LOGS/compositor.log" 2>&1 &
    pids+=($!)
    ;;
mutter)
    export XDG_CURRENT_DESKTOP=GNOME
    # mutter leaves window frames to Qt, whose frame would keep a maximized test window from
    # filling the screen.
    export QT_WAYLAND_DISABLE_WINDOWDECORATION=1
    # The input driver moves the pointer to a place on a screen cast, and casts need PipeWire.
    pipewire >"$WL_LOGS/pipewire.log" 2>&1 &
    pids+=($!)
    mutter --headless --wayland --virtual-monitor "$WL_SIZE" >"$WL_LOGS/compositor.log" 2>&1 &
    pids+=($!)
    input=(/usr/bin/python3 "$here/mutter-input.py") # Debian's Python, with the D-Bus module
    ;;
gnome)
    # GNOME Shell itself (mutter inside), whose portal back end gives programs their shortcuts.
    export XDG_CURRENT_DESKTOP=GNOME QT_WAYLAND_DISABLE_WINDOWDECORATION=1
    # It quits without a system bus: a private one, on which no system service runs.
    dbus-daemon --session --fork --print-pid --address="unix:path=$XDG_RUNTIME_DIR/system-bus" \
        >"$bin/system-bus.pid"
    pids+=("$(cat "$bin/system-bus.pid")")
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system-bus
    # What D-Bus starts for it (the portal, first of all) belongs to this desktop too.
    dbus-update-activation-environment XDG_CURRENT_DESKTOP DBUS_SYSTEM_BUS_ADDRESS HOME XDG_RUNTIME_DIR \
        XDG_SESSION_TYPE >/dev/null 2>&1 || true
    mkdir -p "$HOME/.config/xdg-desktop-portal"
    printf '[preferred]\ndefault=gnome;gtk;\n' >"$HOME/.config/xdg-desktop-portal/gnome-portals.conf"
    # The portal knows a program outside a sandbox by the id it gives, and only when a desktop
    # entry of that name is installed whose program exists: Stowbay's, for the program here.
    mkdir -p "$HOME/.local/share/applications"
    program=${STOWBAY_PROGRAM:-$PWD/stowbay}
    for entry in "$here"/../../../resources/*.desktop; do
        sed "s|^Exec=stowbay|Exec=$program|" "$entry" >"$HOME/.local/share/applications/${entry##*/}"
    done
    pipewire >"$WL_LOGS/pipewire.log" 2>&1 &
    pids+=($!)
    gnome-shell --headless --wayland --virtual-monitor "$WL_SIZE" >"$WL_LOGS/compositor.log" 2>&1 &
    pids+=($!)
    input=(/usr/bin/python3 "$here/mutter-input.py")
    ;;
*)
    echo "session.sh: no compositor called $which" >&2
    exit 2
    ;;
esac
waitfor 20 compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]"
# A full path: it holds also for a client given another XDG_RUNTIME_DIR (a test's own).
export WAYLAND_DISPLAY=$(compgen -G "$XDG_RUNTIME_DIR/wayland-[0-9]" | head -1)
[ "$which" = sway ] && export SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" | head -1)
log "$which: Wayland display $WAYLAND_DISPLAY"
# labwc's screen has the headless back end's size until it is given another.
[ "$which" = labwc ] && waitfor 10 wlr-randr --output HEADLESS-1 --custom-mode "$WL_SIZE"
waitfor 20 compgen -G "/tmp/.X11-unix/X*"
export DISPLAY=:$(ls /tmp/.X11-unix | sed -n 's/^X//p' | sort -n | head -1)
if [ "$which" = mutter ] || [ "$which" = gnome ]; then
    waitfor 20 compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*"
    export XAUTHORITY=$(compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" | head -1)
    waitfor 10 test -S "$XDG_RUNTIME_DIR/pipewire-0"
fi
if ! waitfor 20 xdpyinfo; then
    echo "session.sh: $which started no X server" >&2
    cat "$WL_LOGS/compositor.log" >&2
    exit 1
fi
log "$which: X display $DISPLAY answers"

export WL_INPUT=$bin/input.fifo
mkfifo "$WL_INPUT"
exec 9<>"$WL_INPUT" # held open, so that the driver never reads an end of input
"${input[@]}" <"$WL_INPUT" >"$WL_LOGS/input.log" 2>&1 &
pids+=($!)
if ! waitfor 10 grep -q ready "$WL_LOGS/input.log"; then
    echo "session.sh: no virtual pointer on $which" >&2
    cat "$WL_LOGS/input.log" >&2
    exit 1
fi
log "$which: input ready"
# A keyboard in the seat, as every desktop has: without one no native window is told it has the
# keyboard. wtype keeps its virtual keyboard while its input is open.
if { [ "$which" = sway ] || [ "$which" = labwc ]; } && command -v wtype >/dev/null; then
    mkfifo "$bin/keyboard.fifo" && exec 7<>"$bin/keyboard.fifo"
    wtype - <"$bin/keyboard.fifo" >"$WL_LOGS/keyboard.log" 2>&1 &
    pids+=($!)
fi
# The desktop's portal, which gives programs their global shortcuts: the desktop's back end, then
# the portal in front of it.   start_portal kde|gnome BACKEND-COMMAND...
start_portal() {
    local backend=$1
    shift
    answers() { gdbus introspect --session -d "$1" -o /org/freedesktop/portal/desktop; }
    "$@" >"$WL_LOGS/portal-$backend.log" 2>&1 &
    pids+=($!)
    waitfor 10 answers "org.freedesktop.impl.portal.desktop.$backend"
    /usr/libexec/xdg-desktop-portal --replace >"$WL_LOGS/portal.log" 2>&1 &
    pids+=($!)
    waitfor 10 answers org.freedesktop.portal.Desktop || echo "session.sh: no portal on $which" >&2
    log "$which: portal ready"
}
if [ "$which" = kwin ]; then
    dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XDG_CURRENT_DESKTOP XDG_RUNTIME_DIR HOME \
        >/dev/null 2>&1 || true
    start_portal kde env QT_QPA_PLATFORM=wayland $(compgen -G "/usr/lib/*/libexec/xdg-desktop-portal-kde" | head -1)
elif [ "$which" = gnome ]; then
    shell() { # shell Get|Set PROPERTY [VALUE]
        gdbus call --session -d org.gnome.Shell -o /org/gnome/Shell \
            -m "org.freedesktop.DBus.Properties.$1" org.gnome.Shell "${@:2}"
    }
    # GNOME Shell starts in its overview, which takes the pointer and the keyboard: left, as a
    # user leaves it.
    left() { shell Get OverviewActive | grep -q false; }
    waitfor 30 shell Get OverviewActive
    shell Set OverviewActive '<false>' >/dev/null
    waitfor 10 left
    # Measured: the first two presses the shell is given reach no window, even one under the
    # pointer; later ones do. Spent here, on the empty desktop at the bottom.
    done_before=$(wc -l <"$WL_LOGS/input.log")
    printf 'abs %s %s\nwait 150\ndown\nup\nwait 150\nrel 1 0\nwait 150\ndown\nup\nwait 150\n' \
        $((W / 2)) $((H - 10)) >"$WL_INPUT"
    clicked() { [ "$(wc -l <"$WL_LOGS/input.log")" -ge $((done_before + 10)) ]; }
    waitfor 10 clicked
    log "$which: shell ready"
    dbus-update-activation-environment WAYLAND_DISPLAY DISPLAY XAUTHORITY >/dev/null 2>&1 || true
    start_portal gnome /usr/libexec/xdg-desktop-portal-gnome --replace
    # Started before the shell is wholly up (seen on a loaded machine), GNOME's back end takes the
    # session for another desktop's and offers its settings alone ("Non-compatible display
    # server"), for good. A desktop starts it once the shell is up: here it is started again until
    # it offers shortcuts.
    offers_shortcuts() {
        gdbus introspect --session -d org.freedesktop.impl.portal.desktop.gnome -o /org/freedesktop/portal/desktop |
            grep -q GlobalShortcuts
    }
    for again in 1 2 3; do
        waitfor 5 offers_shortcuts && break
        log "$which: portal back end without shortcuts, started again"
        /usr/libexec/xdg-desktop-portal-gnome --replace >>"$WL_LOGS/portal-gnome.log" 2>&1 &
        pids+=($!)
    done
    # Binding a program's shortcuts for the first time asks the user in a window of GNOME
    # Settings: answered here, as a user would, through the accessibility bus.
    /usr/bin/python3 "$here/shortcut-dialog.py" >"$WL_LOGS/shortcut-dialog.log" 2>&1 &
    pids+=($!)
    waitfor 10 grep -q ready "$WL_LOGS/shortcut-dialog.log" ||
        echo "session.sh: nobody answers the shortcut dialog" >&2
    log "$which: shortcut dialog watched"
elif [ "$which" = mutter ]; then
    # mutter alone gives no program a shortcut (GNOME Shell does, from GNOME 48: the gnome
    # session): a stand-in of the portal's interface that takes the keys the input driver presses.
    /usr/bin/python3 "$here/shortcut-service.py" "$WL_LOGS/input.log" >"$WL_LOGS/shortcut-service.log" 2>&1 &
    pids+=($!)
    waitfor 10 grep -q ready "$WL_LOGS/shortcut-service.log" || echo "session.sh: no shortcut service" >&2
    log "$which: shortcut service ready"
fi
"$@" &
pids+=($!)
status=0
wait $! || status=$?
log "$which: command exited with $status"
exit $status
