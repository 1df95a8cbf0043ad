# Sourced by the benchmarks inside a sandbox: `one NAME COMMAND...` runs the command with its
# standard output in $WORK/NAME.json and its standard error in $WORK/NAME.log, and samples it
# from /proc every 50 ms while it runs. Writes NAME.wall_ms, NAME.threads (the peak count),
# NAME.network_ms (the CPU time of its thread named "network", if any) and NAME.connections
# (the peak count of TCP connections open or being opened in the namespace), and appends
# its resident memory in kB to NAME.rss every 10 s; /usr/bin/time writes NAME.time (its
# "Maximum resident set size" is the peak). With STOP_AFTER_MS set,
# the command gets SIGINT that long after its start, and NAME.stop_ms says how long it took
# to end after it. Returns the command's status.
one() { # NAME COMMAND...
    local name=$1
    shift
    local start timer peak=0 threads status network=0 cpu signalled= connections=0 open rss_at=0 now
    start=$(date +%s%N)
    : > "$WORK/$name.rss"
    /usr/bin/time -v -o "$WORK/$name.time" "$@" > "$WORK/$name.json" 2> "$WORK/$name.log" &
    timer=$!
    while kill -0 "$timer" 2>/dev/null; do
        for pid in $(pgrep -P "$timer"); do
            threads=$(awk '/^Threads:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
            [ -n "$threads" ] && [ "$threads" -gt "$peak" ] && peak=$threads
            for task in /proc/"$pid"/task/*; do
                [ "$(cat "$task/comm" 2>/dev/null)" = network ] || continue
                cpu=$(awk '{ print ($14 + $15) * 10 }' "$task/stat" 2>/dev/null || true)
                [ -n "$cpu" ] && network=$cpu
            done
            now=$(( ($(date +%s%N) - start) / 1000000 ))
            if [ "$now" -ge $(( rss_at + 10000 )) ]; then
                rss_at=$now
                awk '/^VmRSS:/ { print $2 }' "/proc/$pid/status" >> "$WORK/$name.rss" 2>/dev/null
            fi
            if [ -n "${STOP_AFTER_MS:-}" ] && [ -z "$signalled" ] \
                && [ $(( ($(date +%s%N) - start) / 1000000 )) -ge "$STOP_AFTER_MS" ]; then
                kill -INT "$pid"
                signalled=$(date +%s%N)
            fi
        done
        open=$(ss -Htn state established state syn-sent 2>/dev/null | wc -l)
        [ "$open" -gt "$connections" ] && connections=$open
        sleep 0.05
    done
    wait "$timer"
    status=$?
    echo $(( ($(date +%s%N) - start) / 1000000 )) > "$WORK/$name.wall_ms"
    [ -n "$signalled" ] && echo $(( ($(date +%s%N) - signalled) / 1000000 )) > "$WORK/$name.stop_ms"
    echo "$peak" > "$WORK/$name.threads"
    echo "$network" > "$WORK/$name.network_ms"
    echo "$connections" > "$WORK/$name.connections"
    return "$status"
}
