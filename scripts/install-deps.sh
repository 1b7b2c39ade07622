#!/bin/sh
# Installs, from Debian 12's packages, everything the build, the demo and the tests need.
# Run as root (or with sudo). Safe to run again: apt skips what is already there.
set -e
SUDO=
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    build-essential cmake ninja-build pkg-config \
    qt6-base-dev qt6-base-dev-tools libqt6serialport6-dev libgl-dev \
    qt6-qpa-plugins libqt6svg6 \
    xvfb xauth openbox fonts-liberation fonts-dejavu-core \
    unrtf poppler-utils srecord sdcc sdcc-ucsim \
    >/dev/null
