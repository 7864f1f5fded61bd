#!/bin/sh
# Installs on Debian what building and running every test needs: a C++20
# compiler, CMake, GoogleTest, Python 3, srecord (srec_cat, srec_cmp), and
# mspdebug and shellcheck for the programmer example examples/bsldemo.
# Packages named as arguments are installed with them. Run as root, or it
# asks sudo.
set -eu
packages="cmake make g++ libgtest-dev python3 srecord mspdebug shellcheck"
as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo
$as_root env DEBIAN_FRONTEND=noninteractive apt-get update
# shellcheck disable=SC2086  # the list is split into its words on purpose
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
  -o DPkg::Lock::Timeout=300 $packages "$@"
