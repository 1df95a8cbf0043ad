# Sourced by the test scripts: PASS/FAIL lines, a failure count and a scratch folder.
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
equal() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; false; }; }
finish() { # FILE...: the end of each, after a failed check
    [ "$failures" = 0 ] || [ $# = 0 ] || tail -v -n 60 "$@"
    echo "$failures failed"
    [ "$failures" = 0 ]
}
