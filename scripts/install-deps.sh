#!/bin/sh
# Installs the Debian packages the build needs, only when one is missing; with package names
# as arguments, those packages instead (the fuzz build's compiler, for one).
set -e
PACKAGES="cmake ninja-build g++ make pkg-config ccache
libcurl4-openssl-dev nlohmann-json3-dev libpugixml-dev libgumbo-dev duktape-dev
libstb-dev libthrift-dev libboost-dev thrift-compiler libminizip-dev libmd-dev
libsqlite3-dev zlib1g-dev libssl-dev libcpp-httplib-dev libcairo2-dev libfontconfig-dev
libpango1.0-dev libavformat-dev libsndfile1-dev fonts-dejavu-core fonts-wqy-microhei
fonts-noto-color-emoji
libgtest-dev libgmock-dev libbenchmark-dev curl"
[ $# -gt 0 ] && PACKAGES="$*"

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
