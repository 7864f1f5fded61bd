# Every fuzz target, deterministically: a fixed seed and a fixed number of
# runs from its seed corpus in tests/fuzz/corpus, two targets at a time.
# Any finding (a crash, a broken property, a sanitizer report, a leak, a
# hang) fails the step; the input that found it is kept in
# build-ci-fuzz/findings/ and becomes a regression test.
set -euo pipefail
BUILD=build-ci-fuzz
TARGETS=(read_line hex_to_int rakemo_loop lusivo_loop round_trip)
CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_FUZZERS=ON
cmake --build "$BUILD" -j2 --target "${TARGETS[@]/#/fuzz_}"

export BUILD
rm -rf "$BUILD/findings" "$BUILD/fuzz-logs"
mkdir -p "$BUILD/findings" "$BUILD/fuzz-logs"

run_target() {
  local target=$1 runs=$2 work
  work=$(mktemp -d)  # new inputs go here, never into the seed corpus
  if "$BUILD/tests/fuzz/fuzz_$target" -seed=1 -runs="$runs" -max_len=4096 -timeout=30 \
      -artifact_prefix="$BUILD/findings/$target-" "$work" "tests/fuzz/corpus/$target" \
      > "$BUILD/fuzz-logs/$target.log" 2>&1; then
    echo "fuzz_$target: $(grep -m1 '^Done' "$BUILD/fuzz-logs/$target.log")"
    rm -rf "$work"
  else
    echo "fuzz_$target: FINDING"
    tail -n 60 "$BUILD/fuzz-logs/$target.log"
    rm -rf "$work"
    return 1
  fi
}
export -f run_target

# Runs per target: about two minutes for all of them on two cores.
printf '%s\n' "round_trip 30000" "lusivo_loop 120000" "rakemo_loop 250000" \
  "read_line 200000" "hex_to_int 300000" |
  xargs -P 2 -L 1 bash -c 'run_target "$0" "$1"'
