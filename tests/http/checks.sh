# Checks of pages and dump files for the end-to-end tests.  Sourced after
# servers.sh; the test sets W (its work folder), DUMP (the dump file as the
# test sees it), DUMP_SHOWN (as the page names it, /tmp/cgidump65534 by
# default) and CURL (the curl command).

# fetch NAME CURL-ARGS...: response head to $W/NAME.head, body to $W/NAME.
fetch() {
    local name=$1; shift
    "${CURL[@]}" -D "$W/$name.head" -o "$W/$name" "$@"
}

# The dump's environment part: every line before the content-length line.
dump_env() { sed -n '/^\*-\{0,1\}[0-9]*$/q;p' "$1"; }

html_escape() { sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g; s/"/\&quot;/g'; }

# The page lists, between its environment heading and what follows, every
# environment entry that the dump file holds, HTML-escaped, in its order.
page_env_matches_dump() {
    local page=$1
    dump_env "$DUMP" | html_escape | sed 's/$/<p>/' >"$W/env.want"
    sed -n '/^<H2>Die Environmentvariablen<\/H2>$/,/^\(L.nge des Inhalts:\|<H2>Die Liste\|Fehler auf\)/p' "$page" |
        sed '1d;$d' >"$W/env.got"
    [ -s "$W/env.want" ] && cmp -s "$W/env.want" "$W/env.got"
}

# page_starts_whole PAGE: the page begins with the program's head, its
# user line and the environment heading (the server has taken the CGI
# header line off).
DUMP_SHOWN=${DUMP_SHOWN:-/tmp/cgidump$NOBODY_UID}
page_head() {
    printf '<HTML>\n<TITLE>Cgi-Dump</TITLE>\n</HEAD>\n<BODY>\n<H1>Cgi-Dump</H1>\n'
    printf '<H2>User-Information</H2>Ich bin effektiv Nutzer %d und pinsele daher in %s<p>\n' \
        "$SERVER_UID" "$DUMP_SHOWN"
    printf '<H2>Die Environmentvariablen</H2>\n'
}
page_starts_whole() {
    page_head >"$W/head.want"
    cmp -s -n "$(stat -c %s "$W/head.want")" "$W/head.want" "$1"
}

# ends_with FILE BYTES-FILE: FILE ends with exactly the bytes of BYTES-FILE.
# (BYTES-FILE may be a pipe: it is read once, into a file.)
ends_with() {
    local want n
    want=$(mktemp "$W/want.XXXXXX")
    cat "$2" >"$want"
    n=$(stat -c %s "$want")
    [ -f "$1" ] && [ "$(stat -c %s "$1")" -ge "$n" ] && tail -c "$n" "$1" | cmp -s "$want" -
    local rc=$?
    rm -f "$want"
    return $rc
}

# contains FILE BYTES-FILE: the bytes of BYTES-FILE stand somewhere in FILE.
contains() {
    perl -e 'local $/; open my $f, "<", $ARGV[0] or exit 2; open my $p, "<", $ARGV[1] or exit 2;
             my $t = <$f>; my $s = <$p>; exit(index($t, $s) >= 0 ? 0 : 1)' "$1" "$2"
}

# The final status line (after any '100 Continue').
status_is() { grep -a '^HTTP/' "$W/$1.head" | tail -n1 | grep -q "^HTTP/1\.[01] $2 "; }
header_has() { grep -qi "^$2" "$W/$1.head"; }

# dump_is_one_record BODY-FILE: the dump holds one request whole: one
# REQUEST_METHOD entry, the content-length line '*N', then exactly the N
# bytes of BODY-FILE.
dump_is_one_record() {
    local body=$1 n
    n=$(stat -c %s "$body")
    [ -f "$DUMP" ] || return 1
    [ "$(grep -a -c '^REQUEST_METHOD=' "$DUMP")" -eq 1 ] || return 1
    [ "$(head -c "-$n" "$DUMP" | tail -n1)" = "*$n" ] || return 1
    ends_with "$DUMP" "$body"
}

# post_concurrently N URL: N POSTs at once, body $W/c<i>.body with the header
# X-Nr: i, page to $W/c<i>.page; returns when all have ended.
post_concurrently() {
    local i p pids=()
    for i in $(seq "$1"); do
        "${CURL[@]}" -o "$W/c$i.page" -H "X-Nr: $i" --data-binary @"$W/c$i.body" "$2" &
        pids+=($!)
    done
    for p in "${pids[@]}"; do wait "$p"; done
}

# concurrent_dump: after concurrent POSTs whose bodies are $W/c<N>.body and
# whose requests carry the header X-Nr: N, the dump is exactly one of them,
# whole.
concurrent_dump() {
    local k
    k=$(grep -a '^HTTP_X_NR=' "$DUMP" | sed 's/.*=//')
    [ -n "$k" ] && [ "$(grep -a -c '^HTTP_X_NR=' "$DUMP")" -eq 1 ] && dump_is_one_record "$W/c$k.body"
}
