#!/usr/bin/env bash
# The Debian packages: tools/package.sh (dpkg-buildpackage with debian/ in a
# copy of the sources), the packages' control data, file lists, manual
# pages and lintian's verdict; then deb_namespace.sh installs, runs,
# removes and purges them in a private mount and network namespace whose
# /usr, /var and /etc are overlays with throwaway upper layers: the
# machine's own /usr, /var and /etc stay untouched.  Needs root (skipped
# with 77; in CI a failure).
#
#   deb_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
src=${1:?source folder}
build=${2:?build folder}

. "$here/../support/skip.sh"
[ "$(id -u)" -eq 0 ] || skip "needs root (private mount namespace, dpkg)"
for tool in dpkg-buildpackage dh scdoc apt-get unshare setpriv lintian readelf \
    man ip lighttpd lighty-enable-mod service curl pkg-config; do
    command -v "$tool" >/dev/null || skip "$tool is missing (tools/deps.sh installs it)"
done
getent passwd www-data >/dev/null || skip "no user www-data"
grep -qw overlay /proc/filesystems || modprobe overlay 2>/dev/null ||
    skip "no overlay file system"

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
chmod 755 "$T"

version=$(sed -n 's/^project(vokt VERSION \([0-9][0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
deb=$T/vokt_${version}_${arch}.deb
dev=$T/libvokt-cgivar-dev_${version}_${arch}.deb

# What lies in the checkout and beside it, before and after: the build runs
# in a copy.
around() { (cd "$src" && git status --porcelain --ignored 2>/dev/null; ls -a "$src/.."); }
around >"$T/around.before"
bash "$src/tools/package.sh" -o "$T" >"$T/debs" 2>"$T/package.err"
built() {
    [ -f "$deb" ] && [ -f "$dev" ] && grep -qxF "$deb" "$T/debs" && grep -qxF "$dev" "$T/debs" &&
        [ "$(dpkg-deb -f "$deb" Version)" = "$version" ]
}
check "tools/package.sh builds vokt and libvokt-cgivar-dev, <name>_<version>_<arch>.deb" built ||
    { cat "$T/package.err"; echo "# debian package: no packages"; exit 1; }
progress_shown() {
    grep -qx '== dh_auto_configure' "$T/package.err" && grep -qx '== dh_auto_build' "$T/package.err" &&
        grep -q '^   100% built$' "$T/package.err" && grep -q 'tests passed' "$T/package.err"
}
check "tools/package.sh shows the build's steps on standard error" progress_shown
check "the package build ran the unit tests, and they passed" \
    grep -qE '^100% tests passed, 0 tests failed out of [1-9]' "$T/build.log"
around >"$T/around.after"
check "nothing was written into the checkout or beside it" \
    diff "$T/around.before" "$T/around.after"

# vokt's files: the program, whatever else the build installs into bin,
# a manual page for each of man/, the documents, lintian's overrides.
DESTDIR=$T/install cmake --install "$build" --prefix /usr --component Unspecified >/dev/null
{
    echo ./usr/lib/cgi-bin/vokt.cgi
    (cd "$T/install" && find ./usr/bin ! -type d)
    for page in "$src"/man/*.scd; do
        page=$(basename "$page" .scd)
        echo "./usr/share/man/man${page##*.}/$page.gz"
    done
    # The documents as they lie in the checkout, uncompressed, so that
    # their links hold; LICENSE is a link to copyright.
    (cd "$src" && git ls-files README.md docs 2>/dev/null || find README.md docs -type f) |
        sed 's|^|./usr/share/doc/vokt/|'
    printf '%s\n' ./usr/share/doc/vokt/changelog.gz ./usr/share/doc/vokt/LICENSE \
        ./usr/share/doc/vokt/copyright ./usr/share/lintian/overrides/vokt
} | sort >"$T/files.expected"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort >"$T/files"
check "vokt holds vokt.cgi, the programs of bin, their manual pages and the documents" \
    diff "$T/files.expected" "$T/files"
dpkg-deb -c "$deb" >"$T/listing"
check "vokt.cgi is 0755 and root's in the package" \
    grep -q '^-rwxr-xr-x root/root .* \./usr/lib/cgi-bin/vokt\.cgi$' "$T/listing"

# libvokt-cgivar-dev: the install component "development", nothing else.
{
    printf './usr/include/vokt/%s\n' cgiausg.h cgivar.h varmap.h
    printf "./usr/lib/$multiarch/%s\n" libcgivar.a pkgconfig/vokt-cgivar.pc \
        cmake/vokt/voktConfig.cmake cmake/vokt/voktConfigVersion.cmake \
        cmake/vokt/voktTargets.cmake cmake/vokt/voktTargets-none.cmake
    printf './usr/share/doc/libvokt-cgivar-dev/%s\n' changelog.gz copyright
} | sort >"$T/dev.expected"
dpkg-deb --fsys-tarfile "$dev" | tar -t | grep -v '/$' | sort >"$T/dev.files"
check "libvokt-cgivar-dev holds the library, its headers and package files" \
    diff "$T/dev.expected" "$T/dev.files"

# vokt.cgi and vokt-replay are linked statically; vokt is linked
# dynamically (libcurl comes only as a shared library), so the package's
# Depends come from shlibs, and Built-Using names the glibc and gcc whose
# archives went into the static ones, as installed here.
X=$T/vokt
dpkg-deb -x "$deb" "$X"
linked_as_meant() {
    local p
    for p in "$X"/usr/lib/cgi-bin/vokt.cgi "$X"/usr/bin/*; do
        if [ "$(basename "$p")" = vokt ]; then
            readelf -d "$p" | grep -q 'Shared library: \[libcurl\.so' || return 1
        else
            readelf -d "$p" | grep -q '(NEEDED)' && return 1
        fi
    done
    return 0
}
check "vokt.cgi and vokt-replay are linked statically, vokt against libcurl" linked_as_meant
# depends_on PACKAGE: Depends names it (with the version shlibs gives).
depends_on() { dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep -qxF "$1"; }
check "vokt depends on libcurl4, libc6 and libstdc++6, from shlibs" \
    eval 'depends_on libcurl4 && depends_on libc6 && depends_on libstdc++6' || dpkg-deb -f "$deb" Depends
source_of() { dpkg-query -W -f '${source:Package} (= ${source:Version})' "$1"; }
built_using() {
    local bu gcc
    bu=$(dpkg-deb -f "$deb" Built-Using)
    gcc=$(dpkg -S "$(readlink -f "$(g++ -print-file-name=libstdc++.a)")" | sed 's/: .*//')
    [ "$bu" = "$(printf '%s\n' "$(source_of libc6-dev)" "$(source_of "$gcc")" | sort | paste -s -d, - |
        sed 's/,/, /g')" ]
}
check "Built-Using names this machine's glibc and gcc sources" built_using ||
    dpkg-deb -f "$deb" Built-Using
check "libvokt-cgivar-dev has no Built-Using (nothing is linked into it)" \
    test -z "$(dpkg-deb -f "$dev" Built-Using)"
# Every relative link of the installed README and documents leads to a
# file of the package.
links_hold() {
    local f target bad=0
    for f in "$X"/usr/share/doc/vokt/README.md "$X"/usr/share/doc/vokt/docs/*.md; do
        for target in $(grep -oE '\]\([^)#]+' "$f" | sed 's/^](//' | grep -v '^[a-z]*:'); do
            [ -e "$(dirname "$f")/$target" ] || { echo "${f#"$X"}: $target is not in the package"; bad=1; }
        done
    done
    return "$bad"
}
check "every link of the installed README and docs leads to a file of the package" links_hold
zcat "$X/usr/share/doc/vokt/changelog.gz" >"$T/changelog"
check "the changelog in the package is debian/changelog" \
    cmp -s "$T/changelog" "$src/debian/changelog"

# The manual pages: roff that man renders without a warning, and every
# command that "vokt --help" lists, every option of "vokt-replay --help",
# documented.
renders() {
    local page
    for page in "$X"/usr/share/man/man*/*.gz; do
        MANWIDTH=80 man --warnings -l "$page" >"$T/page" 2>"$T/page.err" &&
            [ ! -s "$T/page.err" ] && grep -q '^NAME' "$T/page" || { cat "$T/page.err"; return 1; }
    done
}
check "every manual page renders without a warning" renders
documents_commands() {
    local c
    MANWIDTH=200 man -l "$X/usr/share/man/man1/vokt.1.gz" 2>/dev/null >"$T/vokt.1.txt"
    for c in $("$X/usr/bin/vokt" --help | sed -n 's/^  vokt \([a-z]*\) .*/\1/p'); do
        # In the synopsis ("vokt har RECORD...") and as an entry of its own
        # ("har RECORD..."), both at the indent of a section's text.
        grep -qE "^ {7}vokt $c( |$)" "$T/vokt.1.txt" && grep -qE "^ {7}$c( |$)" "$T/vokt.1.txt" ||
            { echo "vokt.1: no $c"; return 1; }
    done
}
check "vokt(1) describes every command of vokt --help" documents_commands
documents_options() {
    local o
    MANWIDTH=200 man -l "$X/usr/share/man/man1/vokt-replay.1.gz" 2>/dev/null >"$T/replay.1.txt"
    for o in $("$X/usr/bin/vokt-replay" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
        grep -qe "$o" "$T/replay.1.txt" || { echo "vokt-replay.1: no $o"; return 1; }
    done
}
check "vokt-replay(1) names every option of vokt-replay --help" documents_options

for p in "$deb" "$dev"; do
    check "lintian reports no error and no warning on $(basename "$p")" \
        lintian --fail-on error,warning "$p"
done

# Installing, running and purging, in the namespace.
known_here() { dpkg-query -W -f '${Status} ${Version}\n' vokt libvokt-cgivar-dev 2>/dev/null; }
before=$(known_here)
unshare --mount --net --propagation private bash "$here/deb_namespace.sh" "$deb" "$dev" "$T/ns"
rc=$?
[ "$rc" -eq 0 ] || FAILED=$((FAILED + 1))
check "the machine's own dpkg database is as it was" \
    test "$(known_here)" = "$before"

echo "# debian package: $FAILED failed"
[ "$FAILED" -eq 0 ]
