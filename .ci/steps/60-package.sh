# Manual pages, install rules and the Debian package: the pages render
# without a warning, `cmake --install` lays out a prefix, lintian accepts the
# .deb, it installs, and the installed programs convert the bundled example
# both ways.
set -euo pipefail

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "60-package: $*" >&2; exit 1; }

# --- Manual pages: groff's man macros and its utf8 device (groff-base) ---
for page in man/rakemo.1 man/lusivo.1; do
  warnings=$(groff -man -Tutf8 -ww "$page" 2>&1 >/dev/null) || fail "$page: groff failed"
  [ -z "$warnings" ] || fail "$page: groff warns:"$'\n'"$warnings"
  echo "$page renders without warnings"
done

# --- Build in a directory of its own; the tests are built elsewhere ---
cmake -S . -B build-pkg -DBUILD_TESTS=OFF
cmake --build build-pkg -j2

# --- cmake --install honours --prefix ---
prefix="$scratch/prefix"
cmake --install build-pkg --prefix "$prefix"
for file in bin/rakemo bin/lusivo; do
  [ -x "$prefix/$file" ] || fail "cmake --install: no program $file"
done
for file in share/man/man1/rakemo.1.gz share/man/man1/lusivo.1.gz \
            share/doc/rakemo-lusivo/README.md share/doc/rakemo-lusivo/copyright \
            share/doc/rakemo-lusivo/changelog.gz; do
  [ -f "$prefix/$file" ] || fail "cmake --install: no file $file"
done
cmp README.md "$prefix/share/doc/rakemo-lusivo/README.md"
[ -x "$prefix/share/doc/rakemo-lusivo/examples/bsldemo" ] || fail "cmake --install: no executable examples/bsldemo"
cmp examples/bsldemo "$prefix/share/doc/rakemo-lusivo/examples/bsldemo"
[ ! -e "$prefix/bin/bsldemo" ] || fail "cmake --install: bsldemo belongs to the examples, not to bin/"
cmp packaging/copyright "$prefix/share/doc/rakemo-lusivo/copyright"
# Compressed with -9n: no name and no time stamp in the gzip header, the same
# bytes on every build.
for page in rakemo lusivo; do
  gzip -dc "$prefix/share/man/man1/$page.1.gz" | cmp - "man/$page.1" || fail "$page.1.gz is not man/$page.1"
  gzip -9n -c "man/$page.1" | cmp - "$prefix/share/man/man1/$page.1.gz" || fail "$page.1.gz not made by gzip -9n"
done
gzip -dc "$prefix/share/doc/rakemo-lusivo/changelog.gz" | cmp - packaging/changelog
echo "cmake --install lays out bin/, share/man/man1/ and share/doc/"

# --- cmake --install --strip leaves no symbol table ---
cmake --install build-pkg --prefix "$scratch/stripped" --strip >/dev/null
for program in rakemo lusivo; do
  file "$scratch/stripped/bin/$program" | grep -q ', stripped' || fail "--strip: $program keeps its symbols"
done

# --- The Debian package ---
rm -rf build-pkg/package
cpack -G DEB --config build-pkg/CPackConfig.cmake -B build-pkg/package
debs=(build-pkg/package/rakemo-lusivo_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb"
deb=${debs[0]}
dpkg-deb --info "$deb"
[ "$(dpkg-deb --field "$deb" Package)" = rakemo-lusivo ] || fail "wrong package name"
# The C++ runtime is linked in: the C library is the only dependency left.
depends=$(dpkg-deb --field "$deb" Depends)
echo "$depends" | grep -q 'libc6' || fail "no dependency on libc6"
! echo "$depends" | grep -q -e 'libstdc++' -e 'libgcc' || fail "a dependency on the C++ runtime: $depends"
dpkg-deb --contents "$deb"

# lintian: no error and no warning (its note about running as root is none).
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"
echo "lintian accepts $deb"

# dpkg -i into a scratch root whose package database is this machine's, so
# the dependencies are checked against what is installed here; the machine's
# own /usr is not touched.
admin="$scratch/dpkg-root/var/lib/dpkg"
mkdir -p "$admin/info" "$admin/updates"
cp /var/lib/dpkg/status "$admin/status"
: >"$admin/available"
if ! dpkg --root="$scratch/dpkg-root" --log=/dev/null -i "$deb" >"$scratch/dpkg.log" 2>&1; then
  grep -v 'files list file for package' "$scratch/dpkg.log" >&2 || true
  fail "dpkg -i refused the package"
fi
status=$(dpkg --root="$scratch/dpkg-root" --status rakemo-lusivo 2>/dev/null | grep '^Status:' || true)
[ "$status" = "Status: install ok installed" ] || fail "dpkg -i: $status"
echo "dpkg -i installs $deb"

# --- The installed programs, unpacked with dpkg -x, on the bundled example ---
root="$scratch/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
doc="$root/usr/share/doc/rakemo-lusivo"
for file in rakemo lusivo; do
  [ -x "$bin/$file" ] || fail "package holds no $file"
  file "$bin/$file" | grep -q ', stripped' || fail "packaged $file is not stripped"
done
cmp examples/blink.hex "$doc/examples/blink.hex"
cmp examples/blink.txt "$doc/examples/blink.txt"
cmp README.md "$doc/README.md"
[ -x "$doc/examples/bsldemo" ] || fail "package holds no executable examples/bsldemo"
cmp examples/bsldemo "$doc/examples/bsldemo"

work="$scratch/work"
mkdir "$work"
# The statistic of blink: 30 bytes in 2 address ranges, lines ending CR LF.
has_statistic() {
  grep -qxF $'  30 Bytes konvertiert\r' "$1" && grep -qxF $'  2 Adressbereiche gefunden\r' "$1"
}

# Intel HEX to TI-TXT: examples/blink.txt is the TI-TXT of blink.hex.
"$bin/rakemo" "$doc/examples/blink.hex" "$work/blink.txt" >"$work/rakemo.out" \
  || fail "installed rakemo: exit status $?"
cmp examples/blink.txt "$work/blink.txt" || fail "installed rakemo: output differs from examples/blink.txt"
has_statistic "$work/rakemo.out" || fail "installed rakemo: wrong statistic"

# TI-TXT to Intel HEX: one record per data line, and neither the extended
# address record of address 0 nor the start address record of blink.hex, so
# the data records and the end record of blink.hex.
grep -v -e '^:02000004' -e '^:04000005' examples/blink.hex >"$work/expected.hex"
"$bin/lusivo" "$doc/examples/blink.txt" "$work/blink.hex" >"$work/lusivo.out" \
  || fail "installed lusivo: exit status $?"
cmp "$work/expected.hex" "$work/blink.hex" || fail "installed lusivo: output differs from blink.hex's data records"
has_statistic "$work/lusivo.out" || fail "installed lusivo: wrong statistic"

# And back: the TI-TXT of lusivo's Intel HEX is blink.txt again.
"$bin/rakemo" "$work/blink.hex" "$work/again.txt" >/dev/null || fail "installed rakemo: exit status $?"
cmp examples/blink.txt "$work/again.txt" || fail "round trip differs from examples/blink.txt"

# Help screens end with exit status 0; rakemo's pause ends at end of input.
"$bin/rakemo" -h </dev/null >/dev/null || fail "installed rakemo -h: exit status $?"
"$bin/lusivo" -h </dev/null >/dev/null || fail "installed lusivo -h: exit status $?"

# The installed manual pages open with man -l.
for page in rakemo lusivo; do
  MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" </dev/null >"$work/$page.man" 2>"$work/$page.err" \
    || fail "man -l $page.1.gz failed"
  [ ! -s "$work/$page.err" ] || fail "man -l $page.1.gz: $(cat "$work/$page.err")"
  grep -q "^NAME" "$work/$page.man" || fail "man -l $page.1.gz shows no NAME section"
done
echo "installed rakemo and lusivo convert the bundled example; man -l opens both pages"

# --- -p on Linux: the packaged bsldemo on PATH, mspdebug's simulator ---
# As the README says: the adapter on PATH, BSLDEMO_DRIVER=sim, then rakemo
# with -p. The pipe is read to its end, after the adapter has ended too.
if command -v mspdebug >/dev/null; then
  mkdir "$work/bin"
  ln -s "$doc/examples/bsldemo" "$work/bin/bsldemo"
  (cd "$work" && PATH="$work/bin:$PATH" BSLDEMO_DRIVER=sim \
    "$bin/rakemo" "$doc/examples/blink.hex" blink.txt -p "-cCOM1 +ecpvr" </dev/null 2>&1 | cat >"$work/p.out") \
    || fail "installed rakemo -p: exit status $?"
  [ "$(grep -c '^Done, 30 bytes total' "$work/p.out")" -eq 3 ] \
    || fail "packaged bsldemo: mspdebug did not check, write and verify blink's 30 bytes:"$'\n'"$(cat "$work/p.out")"
  echo "the packaged bsldemo programs blink into mspdebug's simulator through rakemo -p"
else
  echo "60-package: mspdebug is not installed; the packaged bsldemo is not run"
fi
