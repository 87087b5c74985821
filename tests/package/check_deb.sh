#!/usr/bin/env bash
# Builds the Debian package from the build tree given as $1 into a scratch
# folder, checks its contents with dpkg-deb and lintian, the packaged binary's
# hardening with readelf and its model folder with strace, and runs its --list.
# $2 is the build's install prefix: only a build for /usr makes the package.
set -euo pipefail
build=$(realpath "$1")
if [ "${2:-/usr}" != /usr ]; then
  echo "skipped: this build is for $2; the package is made from a build for /usr"
  exit 77
fi
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
for path in ./usr/bin/scrivia ./usr/share/man/man1/scrivia.1.gz ./usr/share/doc/scrivia/README.md \
  ./usr/share/scrivia/events.schema.json; do
  grep -q " $path\$" <<<"$contents" || fail "$path missing from the package"
done
depends=$(dpkg-deb -f "$deb" Depends)
for dep in pocketsphinx-en-us wamerican iso-codes tzdata libpulse0; do
  grep -Eq "(^|, )$dep( |,|\$)" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

dpkg-deb -x "$deb" "$work/root"
bin=$work/root/usr/bin/scrivia
# Debian's hardening, as readelf sees it: view | what it must show | what that means.
while IFS='|' read -r view pattern what; do
  grep -Eq "$pattern" <<<"$(readelf -W "$view" "$bin")" || fail "binary is not hardened: $what"
done <<'EOF'
--dynamic|\(FLAGS_1\).* PIE|position-independent (PIE)
--dynamic|\(FLAGS\).*BIND_NOW|immediate binding (-z now)
--program-headers|GNU_RELRO|read-only relocations (-z relro)
--dyn-syms| __stack_chk_fail|stack protector
--dyn-syms| __[a-z0-9_]+_chk[@ ]|fortified libc calls (_FORTIFY_SOURCE)
EOF
# The model folder built in and the one the manual page names are the package's own. strace,
# because -O3 builds the path from immediates, out of sight of `strings`.
models=/usr/share/scrivia/models
out=$(env -i HOME="$work" XDG_DATA_DIRS="$work" strace -f -o "$work/trace" -e trace=%file "$bin" --list)
grep -q "\"$models\"" "$work/trace" || fail "the binary does not look in $models"
grep -q "^\.IR $models " <<<"$(zcat "$work/root/usr/share/man/man1/scrivia.1.gz")" ||
  fail "manual page does not name $models"
[ "$(wc -l <<<"$out")" -eq 1 ] || fail "--list wrote more than one line: $out"
grep -q '"type":"locales"' <<<"$out" && grep -q '"en-US"' <<<"$out" || fail "--list: $out"
# Errors and warnings fail; lintian's informational tags do not.
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian"
echo "package: $(basename "$deb") passed"
