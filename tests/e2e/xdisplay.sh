# Sourced by the scripts that show the real window on a virtual X display of their own.
# Needs Xvfb, xdotool and ImageMagick's import (scripts/setup installs them).

# Starts Xvfb on a display of its own and exports DISPLAY; the caller stops it with stop_xvfb
# (from its EXIT trap). Tests that run side by side sit in network namespaces of their own,
# where Xvfb's own choice of a free number (-displayfd alone) can take a number another test's
# server holds, so each number is first claimed with a lock that ends with the shell.
# XVFB_SCREEN=WxHxDEPTH gives it another screen (2560x1600x24 for a scale of 2).
start_xvfb() {
    local claims=/tmp/devicefinder-displays fifo number n
    mkdir -p "$claims" || return 1
    for n in $(seq 20 99); do
        [ -e "/tmp/.X$n-lock" ] && continue
        exec {xvfb_claim}>"$claims/$n"
        if ! flock -n "$xvfb_claim"; then
            exec {xvfb_claim}>&-
            continue
        fi
        fifo=$(mktemp -u "${TMPDIR:-/tmp}/xdisplay.XXXXXX")
        mkfifo "$fifo" || return 1
        Xvfb ":$n" -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x800x24}" -nolisten tcp \
            3>"$fifo" >/dev/null 2>&1 &
        xvfb_pid=$!
        # The number comes once the server listens; nothing within 10 s means it did not start.
        number=$(timeout 10 head -n 1 "$fifo")
        rm -f "$fifo"
        if [ -n "$number" ]; then
            export DISPLAY=":$number"
            return 0
        fi
        stop_xvfb
    done
    echo "xdisplay: Xvfb did not start" >&2
    return 1
}

stop_xvfb() {
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    [ -n "${xvfb_claim:-}" ] && exec {xvfb_claim}>&-
    xvfb_pid= xvfb_claim=
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
# Only the shell that started the tool can wait for it: redirect the status, don't use $(...).
wait_tool() { # PID SECONDS
    local deadline=$((SECONDS + $2)) killed=
    while kill -0 "$1" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.02
    done
    kill -KILL "$1" 2>/dev/null && killed=124
    wait "$1" 2>/dev/null
    echo "${killed:-$?}"
}
