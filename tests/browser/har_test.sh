#!/usr/bin/env bash
# vokt's output read by real consumers: Playwright's HAR reader, in front
# of Debian's chromium, serves the page's requests from vokt har's log, and
# chromium shows vokt show --html's page of a hostile record (see
# har_test.mjs).  No server and no root: the records are written here, in a
# folder of the test's own.
#
#   har_test.sh BUILD_DIR      (a configured build folder)
#
# Exit status 77 (skipped; in CI a failure) without node, chromium or the
# node packages (npm ci in tests/browser).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?build folder}
. "$here/../support/skip.sh"
command -v node >/dev/null || skip "node is not installed"
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || skip "chromium is not installed"
[ -d "$here/node_modules/playwright-core" ] || skip "the node packages are missing (npm ci in tests/browser)"

dir=$(mktemp -d /tmp/vokt-har-test.XXXXXX)
trap 'rm -rf "$dir"' EXIT
# A urlencoded POST, a body that is no UTF-8, and a GET, as vokt.cgi
# records them; the first two in the history's names.
printf 'REQUEST_METHOD=POST\nREQUEST_URI=/cgi-bin/vokt.cgi?seite=2\nHTTP_HOST=example.org\nCONTENT_TYPE=application/x-www-form-urlencoded\nCONTENT_LENGTH=14\nSERVER_PROTOCOL=HTTP/1.1\nHTTP_COOKIE=sid=abc; theme=dark\n*14\nname=M%%FCller&x' \
    >"$dir/20261208T101502.123456Z-4711"
printf 'REQUEST_METHOD=POST\nSCRIPT_NAME=/cgi-bin/vokt.cgi\nPATH_INFO=/bin\nSERVER_NAME=example.org\nSERVER_PORT=80\nCONTENT_TYPE=application/octet-stream\nCONTENT_LENGTH=4\n*4\nx=\374\377' \
    >"$dir/20261208T101503.000001Z-4712"
printf 'REQUEST_METHOD=GET\nREQUEST_URI=/cgi-bin/vokt.cgi?a=1&b=2\nHTTP_HOST=example.org\nQUERY_STRING=a=1&b=2\n*0\n' \
    >"$dir/get"
"$build/vokt" har "$dir"/2026* "$dir/get" >"$dir/log.har" || { echo "FAIL - vokt har"; exit 1; }
# A multipart upload whose field name is markup.
body=$(printf -- '--XyZ\r\nContent-Disposition: form-data; name="<script>window.pwned=1</script>"\r\n\r\nGr\303\274\303\237 dich\r\n--XyZ\r\nContent-Disposition: form-data; name="bild"; filename="a.png"\r\nContent-Type: image/png\r\n\r\n\211PNG\r\n--XyZ--\r\n'; echo x)
body=${body%x}
{
    printf 'REQUEST_METHOD=POST\nREQUEST_URI=/cgi-bin/vokt.cgi\nCONTENT_TYPE=multipart/form-data; boundary=XyZ\n'
    printf 'CONTENT_LENGTH=%d\n*%d\n%s' "${#body}" "${#body}" "$body"
} >"$dir/upload"
"$build/vokt" show --html "$dir/upload" >"$dir/show.html" || { echo "FAIL - vokt show --html"; exit 1; }
node "$here/har_test.mjs" "$dir/log.har" "$dir/show.html"
