#!/usr/bin/env bash
# The cgivar library as other projects use it: a small CGI program
# (consumer/) built three ways, on a prefix that "cmake --install" filled
# (find_package and pkg-config) and on the sources (add_subdirectory), and
# each result run as a CGI program.  The consumer writes no dump file.
#
#   library_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"
. "$here/serves.sh"
src=${1:?source folder}
build=${2:?build folder}
consumer=$here/consumer
jobs=$(nproc)

# Outside the checkout: pkg-config's flags are split at blanks.
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

# -- cmake --install: the library, its public headers, both package files.
prefix=$T/prefix
cmake --install "$build" --prefix "$prefix" >"$T/install.log" 2>&1
lib=$(find "$prefix" -name libcgivar.a)
pc=$(find "$prefix" -name vokt-cgivar.pc)
check "cmake --install puts libcgivar.a and vokt-cgivar.pc into the prefix" \
    test -f "$lib" -a -f "$pc"
check "the three public headers, and only they, in include/vokt" \
    test "$(cd "$prefix/include/vokt" && echo *)" = "cgiausg.h cgivar.h varmap.h"

# -- the archive shows the public API alone, and holds nothing of the
# other programs: every other symbol is local, so that a caller's own
# function of the same name as an internal part cannot replace it.
api_only() {
    # The C++ library's template instances (weak) are the C++ library's.
    nm -g --defined-only "$lib" | awk 'NF == 3 && $2 != "W" && $2 != "V" { print $3 }' | c++filt >"$T/nm" &&
        ! grep -v -E '^(getcgienv|aufspalt|probeausgabe|html_kopf|html_ende|cgi_error|cgi_usererror|html_text|html_text_n|html_text_bis_null|seite_halten|seite_freigeben)\(|^Varmap(::|iter::)' "$T/nm"
}
check "nm shows the public API of libcgivar.a alone" api_only || grep -v -E '^(Varmap|getcgienv)' "$T/nm" | head
# A program with functions of the internal parts' names (the account
# lookup, the history) links, and the library's own still work: the dump
# goes to the home that /etc/passwd names, not to "/hijacked".
cat >"$T/gleichnamig.cpp" <<'CPP'
#include <vokt/cgivar.h>
#include <sys/types.h>
char *heimverzeichnis(uid_t, int *) { static char h[] = "/hijacked"; return h; }
int verlauf_oeffnen(const char *) { return -1; }
int annahme(Varmap *, char **, int) { return 7; }
Varmap tab;
int main(int, char **, char **env) { return getcgienv(&tab, env, 0) == 7 ? 3 : 0; }
CPP
same_names_link() {
    c++ -std=c++17 -o "$T/gleichnamig" "$T/gleichnamig.cpp" -I"$prefix/include" "$lib" >"$T/gn.log" 2>&1 &&
        env -i REQUEST_METHOD=GET QUERY_STRING=a=1 "$T/gleichnamig" </dev/null >/dev/null &&
        nm "$T/gleichnamig" | c++filt >"$T/gn.nm" &&
        grep -q ' T heimverzeichnis(unsigned int, int\*)$' "$T/gn.nm" &&
        grep -q ' t vokt::intern::heimverzeichnis(unsigned int, int\*)$' "$T/gn.nm"
}
check "a caller's functions named as internal parts link and leave the library working" same_names_link ||
    cat "$T/gn.log"

# -- find_package(vokt) against the prefix.
cmake -S "$consumer" -B "$T/fp" -DCMAKE_PREFIX_PATH="$prefix" >"$T/fp.log" 2>&1 &&
    cmake --build "$T/fp" >>"$T/fp.log" 2>&1
check "find_package(vokt): the consumer builds" test -x "$T/fp/consumer" ||
    cat "$T/fp.log"
check "find_package(vokt): the consumer serves requests" serves "$T/fp/consumer" "$T"

# -- pkg-config vokt-cgivar.
mkdir -p "$T/pc"
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs vokt-cgivar)
# shellcheck disable=SC2086 # the flags are words
c++ -o "$T/pc/consumer" "$consumer/consumer.cpp" $flags >"$T/pc.log" 2>&1
check "pkg-config vokt-cgivar: the consumer builds" test -x "$T/pc/consumer" ||
    cat "$T/pc.log"
check "pkg-config vokt-cgivar: the consumer serves requests" serves "$T/pc/consumer" "$T"

# -- add_subdirectory of the sources: the library and the programs only.
sub=$T/sub
cmake -S "$consumer" -B "$sub" -DVOKT_SOURCE_DIR="$src" >"$T/sub.log" 2>&1 &&
    cmake --build "$sub" -j"$jobs" >>"$T/sub.log" 2>&1
check "add_subdirectory: the consumer and vokt.cgi build" \
    test -x "$sub/consumer" -a -x "$sub/vokt/vokt.cgi" || cat "$T/sub.log"
check "add_subdirectory: the consumer serves requests" serves "$sub/consumer" "$T"
no_tests() {
    [ ! -e "$sub/vokt/tests" ] && ctest --test-dir "$sub" -N | grep -q 'Total Tests: 0'
}
check "add_subdirectory: no tests" no_tests
check "add_subdirectory: the parent's build type is left empty" \
    grep -qx 'CMAKE_BUILD_TYPE:STRING=' "$sub/CMakeCache.txt"
cmake --install "$sub" --prefix "$T/subprefix" >/dev/null 2>&1
check "add_subdirectory: no install rules" test ! -e "$T/subprefix"

echo "# library package: $FAILED failed"
[ "$FAILED" -eq 0 ]
