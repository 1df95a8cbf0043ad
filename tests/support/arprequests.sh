# Sourced where the ARP pace is held to account: each ARP request that arrives on one side of
# a link, with its time (tcpdump), and the most of them in any second and any tenth of one.
# arp_capture_start FILE [COMMAND PREFIX...] -- LINK: from then on, one line a request in FILE.
arp_capture_start() {
    local file=$1 prefix=()
    shift
    while [ "$1" != -- ]; do prefix+=("$1"); shift; done
    "${prefix[@]}" tcpdump -i "$2" -Q in -n -l -tt --time-stamp-precision=nano 'arp[6:2] = 1' > "$file" 2> "$file.err" &
    arp_capture=$! arp_capture_file=$file
    for _ in $(seq 100); do grep -q '^listening on' "$file.err" && return 0; sleep 0.05; done
    echo "arp_capture_start: tcpdump did not start: $(cat "$file.err")" >&2 && return 1
}
# Once the last may have arrived; a request tcpdump dropped would go uncounted.
arp_capture_stop() {
    [ -n "${arp_capture:-}" ] && kill -INT "$arp_capture" && wait "$arp_capture"
    arp_capture=
    grep -q '^0 packets dropped by kernel' "$arp_capture_file.err" || echo dropped > "$arp_capture_file.dropped"
}
# arp_pace FILE: "TOTAL SECOND TENTH", the requests, the most in any second, in any tenth.
arp_pace() {
    cut -d' ' -f1 "$1" | sort -n | awk -F. 'NR == 1 { base = $1 } { t[NR] = ($1 - base) * 1e9 + $2 }
        END { for (i = 1; i <= NR; i++) { while (t[i] - t[s + 1] >= 1e9) s++; while (t[i] - t[d + 1] >= 1e8) d++
                  if (i - s > second) second = i - s; if (i - d > tenth) tenth = i - d }
              print NR, second + 0, tenth + 0 }'
}
# arp_pace_kept FILE RATE: at most RATE in any second and max(1, ceil(RATE / 10)) in any tenth.
arp_pace_kept() {
    local total second tenth
    read -r total second tenth < <(arp_pace "$1")
    echo "  $total requests, at most $second in a second and $tenth in a tenth of one"
    [ ! -e "$1.dropped" ] && [ "$second" -le "$2" ] && [ "$tenth" -le $(( ($2 + 9) / 10 )) ]
}
