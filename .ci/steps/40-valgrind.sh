# The end-to-end and fault suites with every run of rakemo and lusivo under
# valgrind's memcheck, on their small inputs. Only our programs run under
# memcheck: the shell, srec_cat and the stand-in programmer run as they are.
# A memcheck error changes a run's exit status, so its case fails; every
# log must also be empty.
set -euo pipefail
BUILD=${BUILD:-build}
cmake -S . -B "$BUILD" && cmake --build "$BUILD" -j2
LOGS=$(mktemp -d)
RUNNER="valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect
  --errors-for-leak-kinds=definite,indirect --log-file=$LOGS/%p.log"
python3 tests/e2e/e2e.py --rakemo "$BUILD/rakemo" --lusivo "$BUILD/lusivo" \
  --corpus ../shared/corpus --runner "$RUNNER" rakemo lusivo failures corpus srec roundtrip
python3 tests/faults/faults.py --rakemo "$BUILD/rakemo" --lusivo "$BUILD/lusivo" \
  --shim "$BUILD/tests/faults/libfault_shim.so" --runner "$RUNNER" write read streams survey
runs=$(find "$LOGS" -name '*.log' | wc -l)
if [ "$runs" -eq 0 ]; then
  echo "valgrind: no run was checked" >&2
  exit 1
fi
if find "$LOGS" -name '*.log' -size +0 | grep -q .; then
  echo "valgrind: memcheck reports:" >&2
  find "$LOGS" -name '*.log' -size +0 -exec cat {} + >&2
  exit 1
fi
echo "valgrind: $runs runs of rakemo and lusivo, no memcheck report"
rm -rf "$LOGS"
