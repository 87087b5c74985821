#!/usr/bin/env bash
# Builds the Debian package from the build tree given as $1 into a scratch
# folder, checks its contents with dpkg-deb and lintian, and runs the packaged
# binary's --list.
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/scrivia_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one scrivia_*.deb, got: ${debs[*]}"
deb=${debs[0]}

# lintian (below) fails on a missing copyright, changelog or manual page, and on an unstripped binary.
contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/scrivia ./usr/share/man/man1/scrivia.1.gz ./usr/share/doc/scrivia/README.md; do
  grep -q " $path\$" <<<"$contents" || fail "$path missing from the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in pocketsphinx-en-us libpulse0; do
  grep -Eq "(^|, )$dep( |,|\$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

dpkg-deb -x "$deb" "$work/root"
out=$("$work/root/usr/bin/scrivia" --list)
[ "$(wc -l <<<"$out")" -eq 1 ] || fail "--list wrote more than one line: $out"
grep -q '"type":"locales"' <<<"$out" && grep -q '"en-US"' <<<"$out" || fail "--list: $out"
# Errors and warnings fail; lintian's informational tags do not.
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian"
echo "package: $(basename "$deb") passed"
