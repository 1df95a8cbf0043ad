# Sourced by the tests and benchmarks that hold the ARP pace to account: the ARP requests
# that arrive on one side of a link, each with the time it arrived (tcpdump, in nanoseconds),
# and the most of them in any second and in any tenth of a second, however those are laid.
#
#   arp_capture_start FILE [ip netns exec NAMESPACE] -- LINK   (from then on, one line a request)
#   arp_capture_stop                                           (once the last may have arrived)
#   arp_pace FILE          prints "TOTAL SECOND TENTH": the requests, the most in a second, in a tenth
#   arp_pace_kept FILE RATE  whether at most RATE arrived in any second, and max(1, ceil(RATE / 10))
#                          in any tenth; says what it found
arp_capture_start() {
    local file=$1 prefix=()
    shift
    while [ "$1" != -- ]; do prefix+=("$1"); shift; done
    "${prefix[@]}" tcpdump -i "$2" -Q in -n -l -tt --time-stamp-precision=nano 'arp[6:2] = 1' \
        > "$file" 2> "$file.err" &
    arp_capture=$! arp_capture_file=$file
    local tries
    for tries in $(seq 100); do
        grep -q '^listening on' "$file.err" 2>/dev/null && return 0
        sleep 0.05
    done
    echo "arp_capture_start: tcpdump did not start: $(cat "$file.err")" >&2
    return 1
}
arp_capture_stop() {
    [ -n "${arp_capture:-}" ] || return 0
    kill -INT "$arp_capture" 2>/dev/null
    wait "$arp_capture" 2>/dev/null
    arp_capture=
    # A request the kernel dropped before tcpdump saw it would go uncounted.
    if ! grep -q '^0 packets dropped by kernel' "$arp_capture_file.err"; then
        echo "arp_capture_stop: tcpdump dropped requests: $(grep dropped "$arp_capture_file.err")" >&2
        echo dropped >> "$arp_capture_file.dropped"
    fi
}
arp_pace() {
    cut -d' ' -f1 "$1" | sort -n | awk -F. '
        NR == 1 { base = $1 }
        { t[NR] = ($1 - base) * 1000000000 + $2 }
        END {
            second = 0; tenth = 0; s = 1; d = 1
            for (i = 1; i <= NR; i++) {
                while (t[i] - t[s] >= 1000000000) s++
                while (t[i] - t[d] >= 100000000) d++
                if (i - s + 1 > second) second = i - s + 1
                if (i - d + 1 > tenth) tenth = i - d + 1
            }
            print NR, second, tenth
        }'
}
arp_pace_kept() {
    local total second tenth
    read -r total second tenth < <(arp_pace "$1")
    echo "  $total requests, at most $second in a second and $tenth in a tenth of one"
    [ ! -e "$1.dropped" ] && [ "$second" -le "$2" ] && [ "$tenth" -le $(( ($2 + 9) / 10 )) ]
}
