# The README's two commands, as they stand there: the programs alone, with
# the example converted both ways, then every test.
set -euo pipefail
mapfile -t commands < <(sed -n '/^```sh$/,/^```$/p' README.md | sed -n '2,3p')
[ "${#commands[@]}" -eq 2 ] || { echo "10-tests: the README's two commands not found" >&2; exit 1; }
for command in "${commands[@]}"; do
  echo "+ $command"
  bash -euo pipefail -c "$command"
done
cmp examples/blink.txt build-programs/blink.txt
