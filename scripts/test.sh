#!/usr/bin/env bash
# The test command: installs what is missing, checks the formatting, builds,
# runs every test through CTest and the Node and Python clients' tests, then runs the
# unit and Linux-service tests again under ThreadSanitizer and under
# AddressSanitizer with UndefinedBehaviorSanitizer, and fuzzes the parsers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Code is formatted with the root .clang-format.
find src tests bench \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format --dry-run -Werror
configure() {  # build folder, options...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCRIVIA_WERROR=ON "$@" >/dev/null
    cmake --build "$dir"
}

# The product built by clang, whose thread-safety analysis checks who guards what.
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DSCRIVIA_WERROR=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-clang --target scrivia

configure build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
ctest --test-dir build --output-on-failure
(cd clients/node && npm ci --no-audit --no-fund && npm test)
(cd clients/python && /usr/bin/python3 -m pytest -q -p no:cacheprovider)  # Debian's python3, which has pytest

configure build-tsan -DSCRIVIA_TSAN=ON -DSCRIVIA_E2E=OFF
# ThreadSanitizer cannot map its shadow memory under the kernel's widest address randomisation.
setarch "$(uname -m)" -R ctest --test-dir build-tsan -L 'unit|linux' --output-on-failure

configure build-asan -DSCRIVIA_ASAN=ON -DSCRIVIA_E2E=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan -L 'unit|linux' --output-on-failure

CC=clang CXX=clang++ configure build-fuzz -DSCRIVIA_FUZZ=ON
for target in build-fuzz/tests/fuzz/fuzz_*; do
    # A crash or a sanitizer report ends the run with a failure.
    "$target" -max_total_time=8 -rss_limit_mb=2048 -artifact_prefix=build-fuzz/ 2>&1 | tail -n 1
    echo "fuzzed: $(basename "$target")"
done
