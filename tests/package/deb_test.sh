#!/usr/bin/env bash
# The Debian package: tools/package.sh on a build, the package's control
# data, file list and lintian's verdict; then deb_namespace.sh installs,
# runs, removes and purges it in a private mount namespace whose /usr, /var
# and /etc are overlays with throwaway upper layers: the machine's own
# /usr, /var and /etc stay untouched.  Needs root (skipped with 77).
#
#   deb_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
src=${1:?source folder}
build=${2:?build folder}

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (private mount namespace, dpkg)"
for tool in dpkg-deb dpkg-shlibdeps apt-get unshare setpriv lintian readelf; do
    command -v "$tool" >/dev/null || skip "$tool is missing (tools/deps.sh installs it)"
done
getent passwd www-data >/dev/null || skip "no user www-data"
grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null ||
    skip "no overlay file system"

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
chmod 755 "$T"

deb=$(bash "$src/tools/package.sh" -b "$build" -o "$T" -n)
named_by_version() {
    [ -f "$deb" ] && [ "$(basename "$deb")" = \
        "vokt_$(dpkg-deb -f "$deb" Version)_$(dpkg --print-architecture).deb" ]
}
check "tools/package.sh builds vokt_<version>_<arch>.deb" named_by_version ||
    { echo "# debian package: no package"; exit 1; }

# The file list: the program, whatever else the build installs into bin,
# the documents; no library or headers.
DESTDIR=$T/install cmake --install "$build" --prefix /usr >/dev/null
{
    echo ./usr/lib/cgi-bin/vokt.cgi
    if [ -d "$T/install/usr/bin" ]; then
        (cd "$T/install" && find ./usr/bin ! -type d)
    fi
    printf '%s\n' ./usr/share/doc/vokt/README.md.gz ./usr/share/doc/vokt/changelog.gz \
        ./usr/share/doc/vokt/copyright
    # lintian is told why a program is static, and why vokt-replay has no
    # manual page.
    echo ./usr/share/lintian/overrides/vokt
} | sort >"$T/files.expected"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort >"$T/files"
check "the package holds vokt.cgi, the programs of bin and the documents" \
    diff "$T/files.expected" "$T/files"
dpkg-deb -c "$deb" >"$T/listing"
check "vokt.cgi is 0755 and root's in the package" \
    grep -q '^-rwxr-xr-x root/root .* \./usr/lib/cgi-bin/vokt\.cgi$' "$T/listing"

# Depends: none for a static build, else what dpkg-shlibdeps found.
if readelf -d "$build/vokt.cgi" | grep -q '(NEEDED)'; then
    check "a dynamic build depends on libc6" \
        grep -q '^libc6' <<<"$(dpkg-deb -f "$deb" Depends)"
else
    check "a static build depends on nothing" \
        test -z "$(dpkg-deb -f "$deb" Depends)"
fi
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vokt/changelog.gz |
    gzip -d >"$T/changelog"
check "the changelog in the package is the project's" \
    cmp -s "$T/changelog" "$src/packaging/changelog"
check "lintian reports no error and no warning" \
    lintian --fail-on error,warning "$deb"

# Installing, running and purging, in the namespace.
known_here() { dpkg-query -W -f '${Status} ${Version}' vokt 2>/dev/null; }
before=$(known_here)
unshare --mount --propagation private bash "$here/deb_namespace.sh" "$deb" "$T/ns"
rc=$?
[ "$rc" -eq 0 ] || FAILED=$((FAILED + 1))
check "the machine's own dpkg database is as it was" \
    test "$(known_here)" = "$before"

echo "# debian package: $FAILED failed"
[ "$FAILED" -eq 0 ]
