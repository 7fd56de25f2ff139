#!/usr/bin/env bash
# Serves the demonstration page and vokt.cgi with lighttpd, configured as
# tools/serve.sh configures it, and drives headless chromium through it.
# In the test's namespace (see ../http/servers.sh) the site lies at a
# neutral place, the page in /srv/www/html and the program as
# /srv/www/cgi-bin/vokt.cgi, so that the screenshot shows these paths in
# SCRIPT_FILENAME and DOCUMENT_ROOT, not the build machine's.
#
#   browser_test.sh BUILD_DIR      (a configured build folder)
#
# The screenshot of the result page goes to BUILD_DIR/browser/screenshot.png.
# Exit status 77 (skipped; in CI a failure) without root, node, chromium or
# the node packages (npm ci in tests/browser).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
. "$repo/tests/http/servers.sh"
build=${1:?build folder}
require_root_and lighttpd node
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || skip "chromium is not installed"
[ -d /srv ] || skip "/srv is missing (the site is bound over it)"
[ -d "$here/node_modules/playwright-core" ] || skip "the node packages are missing (npm ci in tests/browser)"

sandbox_create "$build/vokt.cgi" "$repo/www"
sandbox_site_at /srv/www
trap sandbox_remove EXIT
server_start lighttpd || exit 1

mkdir -p "$build/browser"
node "$here/browser_test.mjs" "$BASE" "$build/browser/screenshot.png"
rc=$?

# The GET came last; the dump holds it as the browser sent it.
check "the dump holds the browser's GET, its umlauts as %FC and %F6" \
    grep -aqx 'QUERY_STRING=name=M%FCller&stadt=K%F6ln&sprache=deutsch' "$(sandbox_dump)"
check "the screenshot was taken" test -s "$build/browser/screenshot.png"
[ "$rc" -eq 0 ] && [ "$FAILED" -eq 0 ]
