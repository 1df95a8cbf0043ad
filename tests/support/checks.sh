# Sourced by the test scripts: PASS/FAIL lines, a failure count and a scratch folder.
failures=0
work=$(mktemp -d)
shared=
trap 'rm -rf "$work" ${shared:+"$shared"}' EXIT
# Sets `shared`: a folder of the test's own that every user can enter, for what it runs as
# another user. The clone, and so the build, may lie where others cannot (a home of mode 700).
shared_folder() { shared=$(mktemp -d -p /tmp devicefinder-test.XXXXXX) && chmod 755 "$shared"; }
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
