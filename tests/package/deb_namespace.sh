#!/usr/bin/env bash
# Run by deb_test.sh in a private mount and network namespace:
#   deb_namespace.sh PACKAGE DEV_PACKAGE WORK_DIR
# /usr, /var and /etc become overlays whose upper layers lie on a tmpfs,
# and /tmp and /run tmpfs: what apt-get, dpkg, the web server and the
# program write goes away with the namespace, and no service of the machine
# is reached.  Installs, runs, removes and purges the package (vokt) and
# checks the prepared dump file /var/www/cgidump each time; serves the
# program through lighttpd as the README's three lines do; installs the
# library's package (DEV_PACKAGE) and builds the consumer on it.  Exit
# status: the number of failed checks.
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
. "$here/serves.sh"
deb=$1
dev=$2
ovl=$3
dump=/var/www/cgidump
cgi=/usr/lib/cgi-bin/vokt.cgi

mkdir -p "$ovl"
mount -t tmpfs vokt-deb-test "$ovl" || exit 1
for d in usr var etc; do
    mkdir -p "$ovl/$d.upper" "$ovl/$d.work"
    mount -t overlay overlay \
        -o "lowerdir=/$d,upperdir=$ovl/$d.upper,workdir=$ovl/$d.work" "/$d" || exit 1
done
# The packages, the consumer's sources and the test's files, where the
# namespace's own /tmp does not hide them: a checkout, a build folder or the
# test's folder below /tmp is out of sight once /tmp is replaced, and so is
# the working folder (lighttpd and cmake would fail to find it).
W=/var/tmp/vokt-deb-test
mkdir -p "$W"
cp "$deb" "$dev" "$W/"
cp -r "$here/consumer" "$W/consumer"
cp "$here/../../README.md" "$W/README.md"
deb=$W/$(basename "$deb")
dev=$W/$(basename "$dev")
cd "$W" || exit 1
mount -t tmpfs vokt-deb-tmp /tmp || exit 1
mount -t tmpfs vokt-deb-run /run || exit 1
ip link set lo up || exit 1

export DEBIAN_FRONTEND=noninteractive
apt_get() { apt-get "$@" >"$W/apt.log" 2>&1 || { cat "$W/apt.log"; return 1; }; }
installs() { apt_get install -y "$deb"; }
removes() { apt_get remove -y vokt; }
purges() { apt_get purge -y vokt; }
# The state of the path: kind, owner, group, mode, size.
state() { stat -c '%F %U %G %a %s' "$dump" 2>/dev/null || echo none; }
is_prepared() {
    [ "$(stat -c '%F %U' "$dump")" = "symbolic link root" ] && [ "$(readlink "$dump")" = /var/lib/vokt/cgidump ] &&
        [ "$(stat -c '%F %U %G %a' /var/lib/vokt)" = "directory www-data www-data 700" ]
}
is_installed() { dpkg-query -W -f '${Status}' vokt | grep -qx 'install ok installed'; }
lists_files() { dpkg -L vokt | grep -qx "$cgi" && dpkg -L vokt | grep -qx /usr/share/doc/vokt/copyright; }
removed_leaves_link() { removes && is_prepared; }
purged_link_gone() { purges && [ ! -e "$dump" ] && [ ! -L "$dump" ] && [ ! -e /var/lib/vokt ]; }

# A machine with a web server: /var/www exists, nothing at the path.
mkdir -p /var/www
rm -rf "$dump"

check "apt-get installs the package" installs
check "dpkg knows it as installed" is_installed
check "vokt.cgi is installed 0755, root's" \
    test "$(stat -c '%a %U %G' "$cgi")" = "755 root root"
check "dpkg -L lists vokt.cgi and the documents" lists_files
check "postinst links $dump to /var/lib/vokt/cgidump, www-data's folder" is_prepared
check "postinst says nothing of the path then" sh -c "! grep -q 'vokt: $dump' '$W/apt.log'"
check "remove leaves the link and the folder" removed_leaves_link
check "purge removes the link and /var/lib/vokt" purged_link_gone
check "purge leaves /var/www" test -d /var/www

# An earlier version's empty prepared file becomes the link.
install -o www-data -g www-data -m 600 /dev/null "$dump"
check "an earlier version's empty prepared file becomes the link" eval 'installs && is_prepared && purges'

# The program as Debian's servers run it: as www-data, home /var/www.
installs
run_as_server() {
    setpriv --reuid=www-data --regid=www-data --init-groups \
        env -i REQUEST_METHOD=GET "QUERY_STRING=name=M%FCller&nr=$1" SERVER_SOFTWARE=vokt-test \
        "$cgi" </dev/null >"$page" 2>"$W/stderr"
}
page=$W/page
run_as_server 1
status=$?
uid=$(id -u www-data)
target=/var/lib/vokt/cgidump
check "the page names www-data's dump path" grep -aqxF \
    "<H2>User-Information</H2>Ich bin effektiv Nutzer $uid und pinsele daher in $dump<p>" "$page"
whole_page() {
    [ "$status" -eq 0 ] && grep -aqx '<H2>Die Liste der Variablen</H2>' "$page" &&
        grep -aqx "$(printf 'name = M\374ller<p>')" "$page"
}
whole_dump() {
    grep -aqx 'QUERY_STRING=name=M%FCller&nr=1' "$dump" && grep -aqx '\*0' "$dump" &&
        [ "$(stat -c '%U %a' "$target")" = "www-data 600" ] && is_prepared
}
check "the whole page, exit status 0" whole_page
check "the record is at the link's target, www-data's, 0600; the link stays" whole_dump
# The history, when an administrator makes its folder.
install -d -o www-data -g www-data -m 700 "$target.d"
run_as_server 2 && run_as_server 3
history_kept() {
    [ "$(ls "$target.d" | wc -l)" -eq 2 ] && grep -aqx 'QUERY_STRING=name=M%FCller&nr=3' "$dump" &&
        grep -aqx 'QUERY_STRING=name=M%FCller&nr=2' "$target.d/$(ls "$target.d" | head -n1)"
}
check "with $target.d each record is kept there too" history_kept
check "purge removes the link, the records and the folder" purged_link_gone

# The README's three lines: the package, CGI enabled in lighttpd and the
# server (re)started by the README's own line, run as it stands there
# without sudo, while lighttpd does not run yet (service falls back to
# the init script: no init system in the namespace), the first request.
readme_lines() {
    local line
    line=$(sed -n 's/^    \(sudo lighty-enable-mod cgi .*\)/\1/p' "$W/README.md" | sed 's/sudo //g')
    [ -n "$line" ] || { echo "no lighty-enable-mod line in README.md"; return 1; }
    installs && bash -c "$line" >"$W/lighty.log" 2>&1 &&
        curl -sS --retry 5 --retry-connrefused -o "$W/first" \
            'http://localhost/cgi-bin/vokt.cgi?name=Anna' >>"$W/lighty.log" 2>&1
    local rc=$?
    local pid
    if [ -f /run/lighttpd.pid ]; then
        pid=$(cat /run/lighttpd.pid)
        kill "$pid"
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
    [ "$rc" -eq 0 ] || { cat "$W/lighty.log"; return 1; }
}
first_request() {
    grep -aqx 'name = Anna<p>' "$W/first" && grep -aqx 'QUERY_STRING=name=Anna' "$dump" &&
        vokt show "$dump" | grep -q '^GET /cgi-bin/vokt.cgi?name=Anna ' &&
        grep -aqx 'SERVER_SOFTWARE=lighttpd/.*' "$dump" &&
        [ "$(stat -c '%U %a' /var/lib/vokt/cgidump)" = "www-data 600" ]
}
check "the README's lines: install, lighty-enable-mod cgi, service lighttpd, curl" readme_lines
check "the first request's page and record, www-data's" first_request
man_pages() {
    local name page
    for page in vokt:1 vokt-replay:1 vokt-dump:5 vokt.cgi:8; do
        name=${page%:*}
        MANPAGER=cat MANWIDTH=80 man "${page#*:}" "$name" 2>/dev/null | grep -q "^ *$name - " ||
            { echo "man ${page#*:} $name: no page"; return 1; }
    done
}
check "man shows vokt(1), vokt-replay(1), vokt-dump(5) and vokt.cgi(8)" man_pages
purges

# The library's package: the consumer built on it with find_package and
# with pkg-config, without telling either where it is.
dev_installs() { apt_get install -y "$dev" && dpkg -L libvokt-cgivar-dev | grep -q '/libcgivar\.a$'; }
check "apt-get installs libvokt-cgivar-dev" dev_installs
cmake -S "$W/consumer" -B "$W/fp" >"$W/fp.log" 2>&1 && cmake --build "$W/fp" >>"$W/fp.log" 2>&1
check "find_package(vokt) on the installed package: the consumer builds" test -x "$W/fp/consumer" ||
    cat "$W/fp.log"
check "find_package(vokt) on the installed package: the consumer serves requests" \
    serves "$W/fp/consumer" "$W"
mkdir -p "$W/pc"
# shellcheck disable=SC2046 # the flags are words
c++ -o "$W/pc/consumer" "$W/consumer/consumer.cpp" $(pkg-config --cflags --libs vokt-cgivar) \
    >"$W/pc.log" 2>&1
check "pkg-config vokt-cgivar on the installed package: the consumer builds" test -x "$W/pc/consumer" ||
    cat "$W/pc.log"
check "pkg-config vokt-cgivar on the installed package: the consumer serves requests" \
    serves "$W/pc/consumer" "$W"
dev_purged() {
    apt_get purge -y libvokt-cgivar-dev && [ ! -e /usr/include/vokt ] &&
        ! pkg-config --exists vokt-cgivar
}
check "purge removes libvokt-cgivar-dev" dev_purged

# Something already stands at the path: install and purge leave it alone.
# postinst says what it left and what to do.
told_left() {
    grep -qF "vokt: $dump exists already ($1) and was left as it is" "$W/apt.log" &&
        grep -qF "rm $dump && dpkg-reconfigure vokt" "$W/apt.log"
}
link_stays() {
    installs && [ "$(readlink "$dump")" = /var/www/elsewhere ] && told_left "symbolic link of root" &&
        purges && [ "$(readlink "$dump")" = /var/www/elsewhere ] &&
        [ ! -e /var/www/elsewhere ]
}
roots_file_stays() {
    installs && [ "$(state)" = "regular empty file root root 644 0" ] && told_left "regular empty file of root" &&
        purges && [ "$(state)" = "regular empty file root root 644 0" ]
}
ln -s /var/www/elsewhere "$dump"
check "a link at the path stays through install and purge" link_stays
rm -f "$dump"
install -o root -g root -m 644 /dev/null "$dump"
check "root's empty file at the path stays through install and purge" roots_file_stays
rm -f "$dump"

# No web server yet: no /var/www, and the package does not make it.
no_var_www() { installs && [ ! -e /var/www ] && purges; }
rm -rf /var/www
check "without /var/www the package installs and makes nothing there" no_var_www

echo "# in the namespace: $FAILED failed"
exit "$FAILED"
