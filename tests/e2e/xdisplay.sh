# Sourced by the scripts that show the real window on a virtual X display of their own.
# Needs Xvfb, xdotool and ImageMagick's import (scripts/setup installs them).

# Starts Xvfb on a display number it picks itself (-displayfd: two at once never take the
# same one) and exports DISPLAY; the caller stops it with stop_xvfb (from its EXIT trap).
# XVFB_SCREEN=WxHxDEPTH gives it another screen (2560x1600x24 for a scale of 2).
start_xvfb() {
    local fifo number
    fifo=$(mktemp -u "${TMPDIR:-/tmp}/xdisplay.XXXXXX")
    mkfifo "$fifo" || return 1
    Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x800x24}" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    # The number comes once the server listens; nothing within 10 s means it did not start.
    number=$(timeout 10 head -n 1 "$fifo")
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "xdisplay: Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
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
