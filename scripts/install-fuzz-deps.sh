#!/bin/sh
# Installs the compiler `make fuzz` needs (clang 19 and its fuzzer and sanitizer runtimes),
# only when one is missing. The normal build and `make test` never need it.
set -e
PACKAGES="clang-19 libclang-rt-19-dev"

missing=""
for p in $PACKAGES; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
