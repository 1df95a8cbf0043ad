# Sourced by the end-to-end scripts: `. e2e.sh userns|root [TOOL...]`. Without root, the
# script runs again in a user namespace (userns), or fails (root: it needs what a user
# namespace cannot give): CI runs as root, and a skip there would hide the test. A developer
# without root skips instead with DF_TESTS_WITHOUT_ROOT=1. Then checks.sh, with WORK
# exported for commands in the sandbox.
here=$(cd "$(dirname "$0")" && pwd)
: "${DEVICEFINDER:?the devicefinder program}" "${DEVICESIM:?the devicesim program}"
export DEVICEFINDER DEVICESIM
if [ "$(id -u)" != 0 ]; then
    [ "$1" != userns ] || exec "$here/../support/userns" "$0"
    if [ "${DF_TESTS_WITHOUT_ROOT:-}" = 1 ]; then
        echo "${0##*/}: needs root for network namespaces; skipped"
        exit 77
    fi
    echo "${0##*/}: needs root for network namespaces (or set DF_TESTS_WITHOUT_ROOT=1 to skip it)"
    exit 1
fi
for tool in jq "${@:2}"; do
    command -v "$tool" >/dev/null || { echo "${0##*/}: $tool is missing (scripts/setup installs it)"; exit 1; }
done
. "$here/../support/checks.sh"
export WORK=$work
# Runs devicefinder with a home of its own: "${home[@]}" "$DEVICEFINDER" ARGUMENT...
home=(env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config")
sorted() { jq -S 'sort_by(.macAddress)' "$1" 2>/dev/null; } # a JSON list of records, by MAC address
# Milliseconds from the first devicefinder line of the log FILE to its last.
stamp() { date -d "$(grep -E '^[0-9-]+ [0-9:.]+ devicefinder' "$1" | "$2" -n 1 | cut -c1-23)" +%s%3N; }
run_ms() { echo $(( $(stamp "$1" tail) - $(stamp "$1" head) )); }
# A host name a terminal acts on: U+202E (right-to-left override), U+009B (CSI) and DEL.
hostile=$(printf 'corva-\342\200\256\302\233\177bidi')
# Whether every FILE holds that host name only as JSON escapes, never as it is.
escapes_hostile() {
    ! LC_ALL=C grep -q -e "$(printf '\342\200\256')" -e "$(printf '\302\233')" -e "$(printf '\177')" "$@" &&
        [ "$(grep -lF 'corva-\u202e\u009b\u007fbidi' "$@" | wc -l)" = $# ]
}
