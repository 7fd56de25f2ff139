#!/usr/bin/env bash
# vokt.cgi as a stock Debian server runs it after the one preparation step
# of the README: as www-data (uid 33), whose home /var/www belongs to root,
# so that the program cannot make a fresh dump file there and uses the file
# an administrator prepared at /var/www/cgidump.
#
#   stock_test.sh lighttpd|apache|nginx PATH/TO/vokt.cgi
#
# Inside the test's namespace (see servers.sh) /etc/passwd is the test's own
# (www-data with home /var/www), /var/www a root-owned folder of the sandbox
# with the pages in html/, and /usr/lib/cgi-bin holds the program: the
# paths of a stock install.  Exit status 0: all passed; 77: skipped.
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/servers.sh"
. "$here/checks.sh"

server=${1:?lighttpd, apache or nginx}
cgi=${2:?path to vokt.cgi}
require_server "$server"
for d in /var/www /usr/lib/cgi-bin; do
    [ -d "$d" ] || skip "$d is missing (the place inside the namespace is bound over it)"
done

SERVER_UID=33
SERVER_GID=33
sandbox_create "$cgi"
trap sandbox_remove EXIT

# The stock layout, bound over the machine's paths inside the namespace.
VARWWW=$SANDBOX/var-www
mkdir -p "$VARWWW"
cp -a "$SANDBOX/www" "$VARWWW/html"
chown -R 0:0 "$VARWWW"
chmod 755 "$VARWWW"
grep -v -e '^www-data:' -e '^[^:]*:[^:]*:33:' /etc/passwd >"$SANDBOX/passwd"
echo 'www-data:x:33:33:www-data:/var/www:/usr/sbin/nologin' >>"$SANDBOX/passwd"
chmod 644 "$SANDBOX/passwd"
sandbox_bind "$SANDBOX/passwd" /etc/passwd
sandbox_bind "$VARWWW" /var/www
sandbox_bind "$SANDBOX/cgi-bin" /usr/lib/cgi-bin
DOC_ROOT=/var/www/html
CGI_DIR=/usr/lib/cgi-bin

server_start "$server" || exit 1
echo "# $server on $BASE as uid $SERVER_UID, sandbox $SANDBOX"
W=$SANDBOX/work
mkdir -p "$W"
DUMP=$VARWWW/cgidump
DUMP_SHOWN=/var/www/cgidump
CURL=(curl -sS -m 60)
URL=$BASE/cgi-bin/vokt.cgi

# --- before the preparation ----------------------------------------------------
refused_whole() {
    status_is refused 200 && page_head >"$W/refused.want" &&
        printf 'Datei /var/www/cgidump kann leider nicht geschrieben werden!\n</BODY>\n</HTML>\n' >>"$W/refused.want" &&
        grep -v '^<H2>Die Environmentvariablen</H2>$' "$W/refused.want" | cmp -s - "$W/refused"
}
check "unprepared: the response arrives complete" fetch refused "$URL?a=1"
check "unprepared: the page says the dump cannot be written, and ends" refused_whole
check "unprepared: nothing was made in the root-owned home" test "$(ls -A "$VARWWW")" = html

# --- the one preparation step ----------------------------------------------------
install -o "$SERVER_UID" -g "$SERVER_GID" -m 600 /dev/null "$DUMP"
inode=$(stat -c %i "$DUMP")

check "GET: the response arrives complete" fetch get "$URL?seite=2&name=M%FCller&x=%3Cb%3E"
check "GET: status 200" status_is get 200
check "GET: the page starts with head and the user line of www-data" page_starts_whole "$W/get"
check "GET: the page lists every entry of the dump, escaped, in order" page_env_matches_dump "$W/get"
check "GET: the page ends with the decoded variables" ends_with "$W/get" \
    <(printf '<H2>Die Liste der Variablen</H2>\nname = M\xfcller<p>\nx = &lt;b&gt;<p>\nseite = 2<p>\n')
check "GET: the dump shows the stock paths" grep -aqx 'SCRIPT_FILENAME=/usr/lib/cgi-bin/vokt.cgi' "$DUMP"
check "GET: the dump ends with '*0'" ends_with "$DUMP" <(printf '\n*0\n')

head -c 300000 /dev/urandom >"$W/post.req"
check "POST: the response arrives complete" fetch post "$URL" -H 'Content-Type: application/octet-stream' --data-binary @"$W/post.req"
check "POST: status 200, the whole length read" \
    grep -aqx "$(printf 'L\xe4nge des Inhalts:300000')" "$W/post"
check "POST: the page lists every entry of the dump" page_env_matches_dump "$W/post"
check "POST: the prepared dump holds the request whole" dump_is_one_record "$W/post.req"

# Concurrent requests take turns at the prepared file; each record is whole.
for i in $(seq 10); do printf 'nr=%d&fill=%05000d' "$i" "$i" >"$W/c$i.body"; done
post_concurrently 10 "$URL"
concurrent_pages() {
    local i ok=0
    for i in $(seq 10); do
        page_starts_whole "$W/c$i.page" && grep -aqx "HTTP_X_NR=$i<p>" "$W/c$i.page" &&
            ends_with "$W/c$i.page" <(printf 'fill = %05000d<p>\nnr = %d<p>\n' "$i" "$i") &&
            ok=$((ok + 1))
    done
    [ "$ok" -eq 10 ]
}
check "10 concurrent POSTs: every page is whole and its own" concurrent_pages
check "10 concurrent POSTs: the dump is one record, whole" concurrent_dump

prepared_file_kept() {
    [ "$(stat -c '%i %u %a %F' "$DUMP")" = "$inode $SERVER_UID 600 regular file" ] &&
        [ "$(stat -c '%u %a' "$VARWWW")" = "0 755" ] &&
        [ "$(ls -A "$VARWWW" | tr '\n' ' ')" = "cgidump html " ]
}
check "the prepared file is still the same, www-data's, 0600; nothing else was made" prepared_file_kept

# --- the package's layout: root's link into a folder of www-data's ---------------
# The program follows root's link in root's /var/www to its target and
# makes a fresh file there for every request: no lock, so a slow upload
# holds up no other request.  (The package links to /var/lib/vokt; here the
# folder lies in the sandbox's /var/www.)
rm -f "$DUMP"
install -d -o "$SERVER_UID" -g "$SERVER_GID" -m 700 "$VARWWW/records" "$VARWWW/records/cgidump.d"
ln -s /var/www/records/cgidump "$DUMP"
REC=$VARWWW/records/cgidump
HIST=$REC.d
head -c 1000000 /dev/urandom >"$W/slow.req"
"${CURL[@]}" -o "$W/slow" -H 'X-Nr: slow' -H 'Content-Type: application/octet-stream' --limit-rate 200k \
    --data-binary @"$W/slow.req" "$URL" &
slow=$!
sleep 1
gets_ok=0
for i in $(seq 20); do
    fetch "g$i" "$URL?nr=$i" -m 2 && page_starts_whole "$W/g$i" && ! grep -aq belegt "$W/g$i" &&
        grep -aqx "QUERY_STRING=nr=$i" "$REC" && [ "$(tail -n1 "$REC")" = '*0' ] && gets_ok=$((gets_ok + 1))
    sleep 0.1
done
kill -0 "$slow" 2>/dev/null && during=yes || during=no
wait "$slow"
echo "# $server: the 20 GETs were served while the upload still ran: $during"
check "link layout: 20 GETs during a slow upload: each served at once, its own record whole" test "$gets_ok" -eq 20
check "link layout: the GETs did not wait for the upload" test "$during" = yes
check "link layout: the slow upload's page is whole" grep -aqx "$(printf 'L\xe4nge des Inhalts:1000000')" "$W/slow"
history_has_all() {
    local slow_entry
    [ "$(ls "$HIST" | wc -l)" -eq 21 ] || return 1
    slow_entry=$(grep -al '^HTTP_X_NR=slow$' "$HIST"/*) && [ "$(echo "$slow_entry" | wc -l)" -eq 1 ] &&
        DUMP=$slow_entry dump_is_one_record "$W/slow.req"
}
check "link layout: the history holds all 21 records, the upload's whole" history_has_all
check "link layout: the link stays root's, the records www-data's" \
    test "$(stat -c '%F %u' "$DUMP") $(stat -c '%u %a' "$REC")" = "symbolic link 0 $SERVER_UID 600"

server_stop
check "stopped: no process of the sandbox is left" test "$(sandbox_leftovers)" -eq 0
echo "# $server, stock layout: $FAILED failed"
[ "$FAILED" -eq 0 ]
