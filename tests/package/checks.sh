# shellcheck shell=bash
# check DESCRIPTION COMMAND...: runs the command, reports ok or FAIL with
# the description, counts the failures in FAILED and returns the command's
# success.  Sourced by the tests of this folder.
FAILED=0
check() {
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        FAILED=$((FAILED + 1))
        return 1
    fi
}
