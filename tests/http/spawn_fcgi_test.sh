#!/usr/bin/env bash
# nginx with fcgiwrap started as docs/SERVERS.md says where there is no
# systemd: by spawn-fcgi, from an administrator's shell (here the test's
# environment, with HOME, SHELL and a secret of its own).  The program
# must see only what nginx hands over (and the PATH of the command), not
# the shell's environment.
#
#   spawn_fcgi_test.sh PATH/TO/vokt.cgi
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
. "$here/checks.sh"
cgi=${1:?path to vokt.cgi}
require_server nginx
require_root_and spawn-fcgi

sandbox_create "$cgi"
trap keep_or_remove EXIT
export HOME=/root SHELL=/bin/bash VOKT_TEST_SECRET=aws-credentials-of-root
FCGIWRAP_START=docs server_start nginx || exit 1
echo "# nginx and spawn-fcgi on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
CURL=(curl -sS -m 30)
check "GET: the response arrives complete" fetch get "$BASE/cgi-bin/vokt.cgi?name=Anna"
check "GET: status 200, the record holds the query" \
    eval 'status_is get 200 && grep -aqx "QUERY_STRING=name=Anna" "$DUMP"'
only_the_servers() {
    ! grep -aE '^(HOME|SHELL|VOKT_TEST_SECRET|PWD|USER|LOGNAME|SUDO_[A-Z]*)=' "$DUMP" "$W/get" &&
        grep -aqx 'PATH=/usr/sbin:/usr/bin:/sbin:/bin' "$DUMP"
}
check "the record holds nothing of the shell's environment, only the command's PATH" only_the_servers

echo "# spawn-fcgi: $FAILED failed"
[ "$FAILED" -eq 0 ]
