#!/usr/bin/env bash
# Installs the Debian packages that building, testing and benchmarking need (the
# s390x and armhf cross compilers, qemu-user and clang for fuzzing, PyVISA with its
# pure-Python backend for the examples, libtirpc for the port mapper registration, and
# lxi-tools, rpcbind and iproute2 for the VXI-11 client tests, civetweb for the web server and
# Chromium with its driver and Selenium for the browser tests among them), and only those that
# are missing; on a machine that has them all it does nothing.
set -euo pipefail
packages=(cmake ninja-build g++ make pkg-config googletest libgtest-dev libgmock-dev
          libbenchmark-dev uthash-dev valgrind procps ccache
          g++-s390x-linux-gnu qemu-user g++-arm-linux-gnueabihf clang libclang-rt-14-dev
          python3 python3-pyvisa python3-pyvisa-py libtirpc-dev lxi-tools rpcbind iproute2 util-linux
          libcivetweb-dev chromium chromium-driver python3-selenium)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
