#!/usr/bin/env bash
# Every package that the build looks for (find_package, find_program,
# pkg_check_modules in the project's CMake files) is named in
# debian/control's Build-Depends, through the table below: dpkg-checkbuilddeps
# checks only what Build-Depends says, so a missing entry shows only on a
# clean machine, where the package then fails to build.  Where the package
# is installed here, the table is checked against the file that CMake finds
# (dpkg -S).  A name the table does not know fails: add it, with its
# Debian package, or "-" where the Debian build never looks for it.
#
#   builddeps_test.sh SOURCE_DIR
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
src=${1:?source folder}

# KIND NAME PACKAGE (or "-": not looked for by the Debian build) FILE (what
# CMake finds: a package's configuration file, or the program)
table() {
    cat <<'TABLE'
package nlohmann_json nlohmann-json3-dev nlohmann_jsonConfig.cmake
package GTest libgtest-dev GTestConfig.cmake
package PkgConfig pkgconf -
pkg-config re2 libre2-dev re2.pc
pkg-config nettle nettle-dev nettle.pc
pkg-config libcurl libcurl4-openssl-dev libcurl.pc
package Threads - -
program scdoc scdoc scdoc
package benchmark - benchmarkConfig.cmake
program valgrind - valgrind
package vokt - -
TABLE
}
# Threads is the C library's own (build-essential brings it).  Only
# VOKT_BENCH builds bench/, only VOKT_MEMCHECK looks for valgrind, and
# the consumer is built by the package tests on an installed library.

# What the CMake files look for, as "KIND NAME" lines.
looked_for() {
    (cd "$src" && git ls-files '*CMakeLists.txt' '*.cmake' 2>/dev/null ||
        find . -path ./build\* -prune -o \( -name CMakeLists.txt -o -name '*.cmake' \) -print) |
        grep -vE '(^|/)fuzz/' | (cd "$src" && xargs -d '\n' cat) | sed 's/#.*//' | tr '\n' ' ' |
        sed -E 's/(pkg_check_modules|pkg_search_module)\( *([A-Za-z0-9_]+)( +(REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL))+/\1(\2/g' |
        grep -oE '(find_package|find_program|pkg_check_modules|pkg_search_module)\( *[A-Za-z0-9_]+( +[A-Za-z0-9_.+-]+)?' |
        sed -E 's/^find_package\( *([A-Za-z0-9_]+).*/package \1/;
                s/^find_program\( *[A-Za-z0-9_]+ +([A-Za-z0-9_.+-]+).*/program \1/;
                s/^pkg_(check_modules|search_module)\( *[A-Za-z0-9_]+ +([A-Za-z0-9_.+-]+).*/pkg-config \2/' |
        sort -u
}

# The Build-Depends entries' package names.
build_depends() {
    sed -n '/^Build-Depends:/,/^[A-Z][A-Za-z-]*:/p' "$src/debian/control" | sed '$d; s/^Build-Depends://' |
        tr ',' '\n' | sed -E 's/[(<[].*//; s/^ +//; s/ +$//' | grep -v '^$' | sort -u
}

found=$(mktemp)
trap 'rm -f "$found"' EXIT
looked_for >"$found"
check "the CMake files look for something" test -s "$found"
while read -r kind name; do
    row=$(table | awk -v k="$kind" -v n="$name" '$1 == k && $2 == n')
    if [ -z "$row" ]; then
        check "$kind $name: in the table of this test" false
        continue
    fi
    read -r _ _ pkg file <<<"$row"
    [ "$pkg" = - ] && continue
    check "$kind $name: $pkg is in Build-Depends" grep -qxF "$pkg" <(build_depends)
    # Where it is installed: the package that owns what CMake finds.
    if [ "$kind" = program ]; then
        path=$(command -v "$file") && path=$(readlink -f "$path")
    else
        path=$(dpkg -S "*/$file" 2>/dev/null | head -n1 | sed 's/^.*: //')
    fi
    if [ -n "${path:-}" ]; then
        owner=$(dpkg -S "$path" 2>/dev/null | head -n1 | sed 's/:.*//')
        check "$kind $name: $path belongs to $pkg" test "$owner" = "$pkg"
    fi
done <"$found"

echo "# build dependencies: $FAILED failed"
[ "$FAILED" -eq 0 ]
