#!/usr/bin/env bash
# Builds the Debian packages with debhelper (debian/): "dpkg-buildpackage
# -us -uc -b" in a copy of the sources, so that nothing is written beside
# the checkout (dpkg-buildpackage puts its results into the parent folder).
#   vokt_<version>_<arch>.deb                vokt.cgi, vokt, vokt-replay,
#                                            manual pages, documents
#   libvokt-cgivar-dev_<version>_<arch>.deb  the library for other programs
#   vokt-dbgsym_<version>_<arch>.deb         the programs' debug symbols
#
#   tools/package.sh [-o OUT_DIR] [-j JOBS] [-- DPKG_BUILDPACKAGE_OPTION...]
#
# -o: where the packages go (default: build-package in the checkout);
# -j: parallel jobs of the build (default: every processor).
# The copy holds the files git tracks (as they are in the working tree);
# outside a git checkout, every file but build folders.  Prints the
# packages' paths; the build's log is OUT_DIR/build.log, and its steps
# (debhelper's, the compiler's progress, the tests' verdict) go to standard
# error as they come.
# DEB_BUILD_OPTIONS=nocheck leaves out the tests.
set -euo pipefail
export LC_ALL=C
repo=$(cd "$(dirname "$0")/.." && pwd)
out=$repo/build-package
jobs=$(nproc)

usage() { sed -n '10,19s/^# \{0,1\}//p' "$0" >&2; exit 2; }
while getopts o:j:h opt; do
    case $opt in
        o) out=$OPTARG ;;
        j) jobs=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))

fail() { echo "package.sh: $*" >&2; exit 1; }

# The version is the project's; the changelog's newest entry must name it.
version=$(sed -n 's/^project(vokt VERSION \([0-9][0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || fail "no project VERSION in CMakeLists.txt"
logversion=$(dpkg-parsechangelog -l "$repo/debian/changelog" -S Version)
[ "$logversion" = "$version" ] ||
    fail "debian/changelog's newest entry is $logversion, the project is $version"
(cd "$repo" && dpkg-checkbuilddeps) || fail "install the build dependencies (tools/deps.sh)"

# The build's output into the log; its steps, shortly, to standard error.
progress() {
    awk -v logfile="$1" '
        { print > logfile; fflush(logfile) }
        /^   (dh_|debian\/rules override_dh_)auto_configure/ { last = -1 }
        /^   dh_[a-z_]+/ { print "==", $1; fflush() }
        /^   debian\/rules override_dh_[a-z_]+/ { sub(/^override_/, "", $2); print "==", $2; fflush() }
        /^\[ *[0-9]+%\]/ {
            p = $0; sub(/^\[ */, "", p); sub(/%.*/, "", p)
            if (int(p / 25) != last) { last = int(p / 25); print "   " p "% built"; fflush() }
        }
        /tests passed/ { print "  ", $0; fflush() }'
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy=$work/vokt-$version
mkdir "$copy"
if git -C "$repo" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    (cd "$repo" && git ls-files -z --cached |
        while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
        tar --null --no-recursion -T - -cf -) | tar -C "$copy" -xf -
else
    tar -C "$repo" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$copy" -xf -
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
echo "== dpkg-buildpackage in $copy (the whole log: $out/build.log)" >&2
: >"$out/build.log"
if ! (cd "$copy" && dpkg-buildpackage -us -uc -b -j"$jobs" "$@") 2>&1 | progress "$out/build.log" >&2; then
    tail -n 40 "$out/build.log" >&2
    fail "dpkg-buildpackage failed (the whole log: $out/build.log)"
fi
for deb in "$work"/*.deb; do
    cp "$deb" "$out/"
    echo "$out/$(basename "$deb")"
done
