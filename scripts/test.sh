#!/usr/bin/env bash
# The test command: installs what is missing, checks the formatting, builds,
# runs every test through CTest, then runs the unit and Linux-service tests
# again under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Code is formatted with the root .clang-format.
find src tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCRIVIA_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCRIVIA_WERROR=ON -DSCRIVIA_TSAN=ON \
  -DSCRIVIA_E2E=OFF >/dev/null
cmake --build build-tsan
# ThreadSanitizer cannot map its shadow memory under the kernel's widest address randomisation.
setarch "$(uname -m)" -R ctest --test-dir build-tsan -L 'unit|linux' --output-on-failure
