#!/usr/bin/env bash
# A record sent again through the server it came from, with the command
# that vokt curl prints, gives a record that vokt diff finds equal but for
# what differs between any two requests (REMOTE_PORT and the like): a GET,
# a form POST, a multipart upload and a PUT.  And vokt show on the server's
# own records: the headers the client sent, each once, no note where there
# is nothing to note, and an upload beyond the view's 1 MiB cut, not broken.
#
#   resend_test.sh lighttpd|apache|nginx PATH/TO/vokt.cgi PATH/TO/vokt
#
# The server runs as nobody in a sandbox (see servers.sh).  Exit status 0:
# all passed; 77: skipped (not root, or the server is not installed).
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"

server=${1:?lighttpd, apache or nginx}
cgi=${2:?path to vokt.cgi}
vokt=${3:?path to vokt}
require_server "$server"

sandbox_create "$cgi"
trap keep_or_remove EXIT
# Apache as Debian configures it: SERVER_SIGNATURE then ends in a line feed.
APACHE_EXTRA='ServerSignature On'
server_start "$server" || exit 1
echo "# $server on $BASE, sandbox $SANDBOX"

W=$SANDBOX/work
mkdir -p "$W"
DUMP=$(sandbox_dump)
URL=$BASE/cgi-bin/vokt.cgi
CURL=(curl -sS -m 60 -o /dev/null)

# resent NAME: sends NAME.rec again with vokt curl's command and compares
# the new record NAME.again.rec with it.  --url: nginx's HTTP_HOST (its
# $host) holds no port.
resent() {
    local name=$1
    "$vokt" curl "$W/$name.rec" --url "$BASE" >"$W/$name.cmd" 2>"$W/$name.cmd.err" || return 1
    rm -f "$DUMP"
    bash -c "$(cat "$W/$name.cmd")" >/dev/null || return 1
    cp "$DUMP" "$W/$name.again.rec" || return 1
    "$vokt" diff "$W/$name.rec" "$W/$name.again.rec" >"$W/$name.diff"
    local status=$?
    [ "$status" -eq 0 ] || { echo "# vokt curl printed:"; sed 's/^/#   /' "$W/$name.cmd";
                             echo "# vokt diff:"; sed 's/^/#   /' "$W/$name.diff"; }
    return "$status"
}

printf 'name=M%%FCller&wort=a%%26b' >"$W/form.req"
printf 'Gr\xc3\xbc\xc3\x9f dich\n' >"$W/gruss.txt"
head -c 3000 /dev/urandom >"$W/bild.bin"
head -c 5000 /dev/urandom >"$W/put.bin"

check "GET: recorded" sent get -H 'Accept-Language: de' "$URL/x?a=1&b=%FC"
check "form POST: recorded" sent post --data-binary @"$W/form.req" "$URL?seite=2"
check "multipart upload: recorded" sent multipart -F 'gruss=<'"$W/gruss.txt"';type=text/plain' \
    -F "bild=@$W/bild.bin;type=image/png" "$URL"
check "PUT: recorded" sent put -T "$W/put.bin" -H 'Content-Type: application/octet-stream' "$URL/upload"

for name in get post multipart put; do
    check "$name: sent again, vokt diff finds the records equal" resent "$name"
done

# --- vokt show on the server's records --------------------------------------------
# headers NAME: the Headers section of vokt show NAME.rec; notes NAME: its notes.
headers() { "$vokt" show "$W/$1.rec" | sed -n '/^Headers$/,/^$/p'; }
notes() { "$vokt" show "$W/$1.rec" | sed -n '/^Notes$/,/^$/p'; }
check "GET: no Content-Type or Content-Length among the headers" \
    eval '! headers get | grep -q "^  Content-"'
check "form POST: Content-Length is listed once" eval '[ "$(headers post | grep -c "^  Content-Length: 24$")" = 1 ]'
check "GET: no note" eval '[ "$(notes get)" = "$(printf "Notes\n  none\n")" ]'

head -c $((2 << 20)) /dev/urandom >"$W/big.bin"
check "2 MiB upload: recorded" sent big -F "bild=@$W/big.bin;type=application/octet-stream" "$URL"
check "2 MiB upload: vokt show says the view cuts it, not that it is broken" \
    eval '"$vokt" show "$W/big.rec" >"$W/big.show" && ! grep -q broken "$W/big.show" &&
          grep -q "^  the view ends within part 1: the body goes on past the bytes shown" "$W/big.show"'
check "2 MiB upload: --all shows the part whole" \
    eval '"$vokt" show --all "$W/big.rec" | grep -q "^  part 1: name \"bild\", filename \"big.bin\", type application/octet-stream, 2097152 bytes$"'
check "2 MiB upload: --part 1 -o FILE writes its bytes" \
    eval '"$vokt" show "$W/big.rec" --part 1 -o "$W/big.part" && cmp -s "$W/big.part" "$W/big.bin"'

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server: $FAILED failed"
[ "$FAILED" -eq 0 ]
