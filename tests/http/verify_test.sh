#!/usr/bin/env bash
# vokt verify on records that a real web server made: curl sends bodies
# signed as GitHub, Stripe and Slack sign them (the HMACs computed here by
# Python's hmac module, not by vokt), vokt.cgi records them, and vokt
# verify finds the signatures match with the right secret, and not with a
# wrong one or one that ends in a line feed.  A header sent twice reaches
# the program joined by ", ": one signature of the two that matches is
# enough.
#
#   verify_test.sh lighttpd|apache|nginx PATH/TO/vokt.cgi PATH/TO/vokt
#
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or the server or python3 is missing).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?lighttpd, apache or nginx}
cgi=${2:?path to vokt.cgi}
vokt=${3:?path to vokt}
require_server "$server"
command -v python3 >/dev/null || skip "python3 is not installed"

sandbox_create "$cgi"
trap keep_or_remove EXIT
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 60 -o /dev/null)

# hmac HASH KEYFILE DATAFILE: the HMAC in hex, by Python.
hmac() {
    python3 -c 'import hmac, sys
print(hmac.new(open(sys.argv[2], "rb").read(), open(sys.argv[3], "rb").read(), sys.argv[1]).hexdigest())' "$@"
}

# verify NAME STATUS LINE ARGS...: vokt verify on NAME.rec exits with
# STATUS, and its output has LINE.
verify() {
    local name=$1 status=$2 line=$3 got
    shift 3
    "$vokt" verify "$W/$name.rec" "$@" >"$W/$name.out" 2>&1
    got=$?
    [ "$got" -eq "$status" ] && grep -qxF "$line" "$W/$name.out" ||
        { echo "# exit $got, output:"; sed 's/^/#   /' "$W/$name.out"; return 1; }
}

printf 'It is a secret' >"$W/secret"
printf 'It is a secret\n' >"$W/secret.lf"
printf 'another secret' >"$W/wrong"
# A body of JSON with bytes beyond ASCII and a CR LF, sent as it is.
printf '{"zen":"M\xc3\xbcller\r\n","id":7}' >"$W/body.json"
sig=$(hmac sha256 "$W/secret" "$W/body.json")

check "GitHub: recorded" sent github -H "X-Hub-Signature-256: sha256=$sig" \
    -H 'Content-Type: application/json' --data-binary @"$W/body.json" "$URL"
check "GitHub: the right secret matches" verify github 0 "verdict: match" --secret-file "$W/secret"
check "GitHub: over the body's bytes" verify github 0 "signed: $(wc -c <"$W/body.json") bytes" \
    --secret-file "$W/secret"
HOOK_SECRET='It is a secret' check "GitHub: the secret from an environment variable" \
    verify github 0 "verdict: match" --secret-env HOOK_SECRET
check "GitHub: a wrong secret does not" verify github 1 "verdict: mismatch" --secret-file "$W/wrong"
check "GitHub: a secret file with a line feed, named as the cause" verify github 1 \
    "cause: the secret file ends in a line feed; without it the signature matches" --secret-file "$W/secret.lf"

check "GitHub, the header twice: recorded" sent twice -H "X-Hub-Signature-256: sha256=$(printf '%064d' 0)" \
    -H "X-Hub-Signature-256: sha256=$sig" --data-binary @"$W/body.json" "$URL"
check "GitHub, the header twice: the server joined it" \
    grep -qaF "HTTP_X_HUB_SIGNATURE_256=sha256=$(printf '%064d' 0), sha256=$sig" "$W/twice.rec"
check "GitHub, the header twice: one matches" verify twice 0 "verdict: match" --secret-file "$W/secret"
check "GitHub, the header twice: with a wrong secret, neither" verify twice 1 \
    "cause: X-Hub-Signature-256 holds 2 signatures and none matches" --secret-file "$W/wrong"

t=$(date +%s)
{ printf '%s.' "$t"; cat "$W/body.json"; } >"$W/stripe.signed"
check "Stripe: recorded" sent stripe -H "Stripe-Signature: t=$t,v1=$(printf '%064d' 1),v1=$(hmac sha256 "$W/secret" "$W/stripe.signed")" \
    --data-binary @"$W/body.json" "$URL"
check "Stripe: the right secret matches" verify stripe 0 "verdict: match" --secret-file "$W/secret"
check "Stripe: a wrong secret does not" verify stripe 1 "verdict: mismatch" --secret-file "$W/wrong"

{ printf 'v0:%s:' "$t"; cat "$W/body.json"; } >"$W/slack.signed"
check "Slack: recorded" sent slack -H "X-Slack-Signature: v0=$(hmac sha256 "$W/secret" "$W/slack.signed")" \
    -H "X-Slack-Request-Timestamp: $t" --data-binary @"$W/body.json" "$URL"
check "Slack: the right secret matches" verify slack 0 "verdict: match" --secret-file "$W/secret"
check "Slack: a wrong secret does not" verify slack 1 "verdict: mismatch" --secret-file "$W/wrong"

check "no signature: recorded" sent plain --data-binary @"$W/body.json" "$URL"
check "no signature: cannot be checked" eval '"$vokt" verify "$W/plain.rec" --secret-file "$W/secret" >/dev/null 2>&1; [ $? -eq 2 ]'

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
