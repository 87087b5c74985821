#!/usr/bin/env bash
# Installs what scrivia needs to build, test and run on Debian 12 (as root, or with sudo).
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ pkg-config clang-format \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  nlohmann-json3-dev libutf8proc-dev libsoxr-dev \
  libpulse-dev pulseaudio pulseaudio-utils \
  libpocketsphinx-dev libsphinxbase-dev pocketsphinx pocketsphinx-en-us pocketsphinx-testdata \
  dpkg-dev file lintian strace clang libclang-rt-14-dev \
  wamerican iso-codes tzdata flite flite1-dev espeak-ng sctk python3 python3-pytest \
  python3-jsonschema \
  >/dev/null
# The Node client's tests; a machine may already have Node.js from elsewhere.
if ! command -v npm >/dev/null; then
  $SUDO apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
