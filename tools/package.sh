#!/usr/bin/env bash
# Builds the Debian package vokt_<version>_<arch>.deb with dpkg-deb from a
# staging tree that "cmake --install --prefix /usr" fills:
#   /usr/lib/cgi-bin/vokt.cgi   the program (the default, static build)
#   /usr/bin/...                every other program the project installs
#   /usr/share/doc/vokt/        README.md.gz, changelog.gz, copyright
#   postinst/postrm             make /var/www/cgidump root's link into
#                               /var/lib/vokt (www-data's), remove both on purge
# The library and its headers (install component "development") stay out.
#
#   tools/package.sh [-b BUILD_DIR] [-o OUT_DIR] [-n]
#
# -b: the build folder (default build-package, configured as a Release
#     build without tests when it is not configured yet);
# -o: where the .deb goes (default: the build folder);
# -n: package the build as it is, without building.
# Prints the package's path.
set -euo pipefail
export LC_ALL=C
repo=$(cd "$(dirname "$0")/.." && pwd)
pack=$repo/packaging
build=$repo/build-package
out=
nobuild=

usage() { sed -n '11,17s/^# \{0,1\}//p' "$0" >&2; exit 2; }
while getopts b:o:nh opt; do
    case $opt in
        b) build=$OPTARG ;;
        o) out=$OPTARG ;;
        n) nobuild=1 ;;
        *) usage ;;
    esac
done
out=${out:-$build}

fail() { echo "package.sh: $*" >&2; exit 1; }

# The version is the project's; the changelog's newest entry must name it.
version=$(sed -n 's/^project(vokt VERSION \([0-9][0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$version" ] || fail "no project VERSION in CMakeLists.txt"
logversion=$(sed -n '1s/^vokt (\([^)]*\)).*/\1/p' "$pack/changelog")
[ "$logversion" = "$version" ] ||
    fail "packaging/changelog's newest entry is $logversion, the project is $version"
maintainer=$(sed -n 's/^ -- \(.*>\)  .*/\1/p' "$pack/changelog" | head -n 1)
[ -n "$maintainer" ] || fail "no maintainer line in packaging/changelog"
arch=$(dpkg --print-architecture)

if [ -z "$nobuild" ]; then
    [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOKT_TESTS=OFF >/dev/null
    cmake --build "$build" -j"$(nproc)" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Laid out as dpkg-shlibdeps expects a package's tree.
root=$work/debian/vokt

# Everything the build installs but the development component.
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
DESTDIR=$work/dev cmake --install "$build" --prefix /usr --component development >/dev/null
if [ -d "$work/dev" ]; then
    (cd "$work/dev" && find . ! -type d -print0) |
        (cd "$root" && xargs -0 -r rm -f --)
fi
find "$root" -mindepth 1 -depth -type d -empty -delete
[ -f "$root/usr/lib/cgi-bin/vokt.cgi" ] ||
    fail "the install of $build gave no /usr/lib/cgi-bin/vokt.cgi"

doc=$root/usr/share/doc/vokt
install -d "$doc"
gzip -9n <"$repo/README.md" >"$doc/README.md.gz"
gzip -9n <"$pack/changelog" >"$doc/changelog.gz"
install -m 644 "$pack/copyright" "$doc/copyright"

# Programs stripped as Debian strips them (dh_strip).  Depends: what the
# dynamically linked ones need; a static build needs nothing.
dynamic=()
while IFS= read -r -d '' f; do
    readelf -h "$f" >/dev/null 2>&1 || continue
    strip --remove-section=.comment --remove-section=.note "$f"
    if readelf -d "$f" | grep -q '(NEEDED)'; then
        dynamic+=("debian/vokt${f#"$root"}")
    fi
done < <(find "$root" -type f -perm -u+x -print0)
depends=
install -d "$root/DEBIAN"
if [ "${#dynamic[@]}" -gt 0 ]; then
    printf 'Source: vokt\n\nPackage: vokt\nArchitecture: any\n' >"$work/debian/control"
    depends=$(cd "$work" && dpkg-shlibdeps -O "${dynamic[@]}" |
        sed -n 's/^shlibs:Depends=//p')
fi
# lintian's objections, answered (see the file): an override for a
# statically linked program only where that program is static.
overrides=$root/usr/share/lintian/overrides/vokt
install -d "$(dirname "$overrides")"
: >"$overrides"
while IFS= read -r line; do
    case $line in
        *statically-linked-binary*)
            f=${line##*[}
            f=${f%]}
            readelf -d "$root/$f" | grep -q '(NEEDED)' && continue ;;
    esac
    printf '%s\n' "$line" >>"$overrides"
done <"$pack/lintian-overrides"
chmod 644 "$overrides"
# Files 0644, programs and folders 0755, whatever the umask was.
chmod -R u=rwX,go=rX "$root"

install -m 755 "$pack/postinst" "$pack/postrm" "$root/DEBIAN/"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
control=$(<"$pack/control.in")
control=${control//@VERSION@/$version}
control=${control//@ARCH@/$arch}
control=${control//@MAINTAINER@/$maintainer}
control=${control//@SIZE@/$size}
control=${control//@DEPENDS@/${depends:+Depends: $depends$'\n'}}
printf '%s\n' "$control" >"$root/DEBIAN/control"
chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb=$(cd "$out" && pwd)/vokt_${version}_${arch}.deb
dpkg-deb --root-owner-group --build "$root" "$deb" >/dev/null
echo "$deb"
