#!/usr/bin/env bash
# Installs, with apt-get, what building and testing need on a fresh Debian
# machine.  Runs as root (or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  # build and unit tests
  g++ cmake make libgtest-dev libgmock-dev
  # vokt show's JSON view and vokt har's output; the regular expressions of
  # vokt's filters (RE2, found with pkg-config); vokt verify's HMACs
  # (nettle); vokt send's HTTP client (libcurl, found with pkg-config)
  nlohmann-json3-dev libre2-dev nettle-dev pkgconf libcurl4-openssl-dev
  # sanitizer build, fuzzing and memory checks
  clang-14 libclang-rt-14-dev valgrind
  # layout and static checks
  clang-format-14 clang-tidy-14
  # benchmarks
  libbenchmark-dev
  # end-to-end tests through web servers and a headless browser
  lighttpd apache2 nginx-light fcgiwrap spawn-fcgi curl chromium nodejs
  # the certificate that vokt send's test trusts, made by openssl req
  openssl
  # the small CGI hosts: busybox httpd, mini_httpd, Go's net/http/cgi, Python's http.server
  busybox mini-httpd golang-go python3
  # the library's package files and the Debian packages (tools/package.sh:
  # dpkg-buildpackage with debhelper; the manual pages with scdoc; the
  # package test's lintian, man, ip, lighttpd and curl)
  pkgconf dpkg-dev build-essential debhelper scdoc lintian man-db iproute2
  # an account database beyond /etc/passwd, for the home-directory tests
  libnss-extrausers
)
# npm comes with some builds of nodejs; Debian packages it apart.
command -v npm >/dev/null || PACKAGES+=(npm)

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${PACKAGES[@]}"

# The browser test's node packages, exactly as locked.
(cd tests/browser && npm ci --no-audit --no-fund)
