#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test (unit, fixture images, headless GUI).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 600

# The same tests on a second build checked by AddressSanitizer and UBSan, but the fuzz runs
# (they are sanitized in their own tree already) and the check of the fixture images by other
# tools (it runs none of Ravendo's code) and the list's timed run over 100,000 files (its time
# limit holds for the plain build). The program translates processor faults itself, so the
# sanitizers leave those signals to it.
cd ..
bash scripts/build.sh build-asan -DRVD_SANITIZE=ON -DRVD_FUZZ_TESTS=OFF
cd build-asan
ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allocator_may_return_null=1:detect_leaks=1 \
LSAN_OPTIONS="suppressions=$PWD/../tests/support/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 600 -LE 'fuzz|media' -E '^fixtures\.check$|^LargeFolder\.'
# The programs that load VLC through the media player: memory errors are checked, leaks are not
# (VLC's plugins keep memory and are unloaded before the leak check could name them).
ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:allocator_may_return_null=1:detect_leaks=0 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" --timeout 600 -L media
