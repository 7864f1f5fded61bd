# The README's test command.
set -euo pipefail
cmake -S . -B build && cmake --build build -j2 && ctest --test-dir build --output-on-failure
