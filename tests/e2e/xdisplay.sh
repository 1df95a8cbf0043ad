# Sourced by the scripts that show the real window on a virtual X display of their own.
# Needs Xvfb, xdotool and ImageMagick's import (scripts/setup installs them).

# Starts Xvfb on the first free display number from 90 on and exports DISPLAY; the caller
# stops it with stop_xvfb (from its EXIT trap).
start_xvfb() {
    local number=90
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$number"
    for _ in $(seq 100); do
        [ -S "/tmp/.X11-unix/X$number" ] && return 0
        sleep 0.05
    done
    echo "xdisplay: Xvfb did not start on $DISPLAY" >&2
    return 1
}

stop_xvfb() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
}

wait_for_log() { # FILE TEXT SECONDS: until FILE holds TEXT, for at most SECONDS
    local deadline=$((SECONDS + $3))
    until grep -qF -- "$2" "$1" 2>/dev/null; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.1
    done
}

# Sets window to the X window id of the tool's window, once it is mapped; fails after 20 s.
window_id() {
    window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Device Finder$' 2>/dev/null | head -n 1)
    [ -n "$window" ]
}

save_window() { window_id && import -window "$window" "$1"; } # PNG-FILE
# Ctrl+Q in the tool's window, as the user would quit it.
quit_window() { window_id && timeout 10 xdotool windowfocus --sync "$window" key --clearmodifiers ctrl+q; }

# Waits for the tool to end and prints its exit status; kills it after SECONDS (status 124).
wait_tool() { # PID SECONDS
    local deadline=$((SECONDS + $2)) killed=
    while kill -0 "$1" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.02
    done
    kill -KILL "$1" 2>/dev/null && killed=124
    wait "$1" 2>/dev/null
    echo "${killed:-$?}"
}
