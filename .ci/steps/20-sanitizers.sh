# The whole suite again, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
CXX=clang++ cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON
cmake --build build-sanitize -j2
ASAN_OPTIONS=detect_leaks=0 ctest --test-dir build-sanitize --output-on-failure
