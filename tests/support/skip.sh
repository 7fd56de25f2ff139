# shellcheck shell=bash
# skip REASON: ctest's "skipped" (exit status 77) when this machine cannot
# run a test (no root, a tool missing); in CI (CI=true), where tools/deps.sh
# installed everything the tests need, a failure instead, so that nothing
# is left out unseen.  Sourced by the scripts of tests/http, tests/package
# and tests/browser.
skip() {
    if [ "${CI:-}" = true ]; then
        echo "FAIL: $* (CI=true: nothing may be missing)"
        exit 1
    fi
    echo "skipped: $*"
    exit 77
}
