#!/usr/bin/env bash
# Builds the Debian package (cpack -G DEB) from the release build and checks
# it: its contents, its Depends (from dpkg-shlibdeps), lintian (no error or
# warning), and the installed programs run from an unpacked root.
#   scripts/package.sh     leaves build/devupdate_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset ci
cmake --build build -j "$(nproc)"
rm -f build/devupdate_*.deb
(cd build && cpack -G DEB)
package=$(ls build/devupdate_*.deb)
echo "== $package"

fail() { echo "package check failed: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$package" | awk '{print $NF}')
for path in \
    ./usr/bin/devupdate ./usr/bin/devupdate-cli ./usr/bin/devupdate-sim ./usr/bin/mkupd \
    ./usr/share/man/man1/devupdate.1.gz ./usr/share/man/man1/devupdate-cli.1.gz \
    ./usr/share/man/man1/devupdate-sim.1.gz ./usr/share/man/man1/mkupd.1.gz \
    ./usr/share/applications/devupdate.desktop ./usr/share/mime/packages/devupdate.xml \
    ./usr/share/icons/hicolor/48x48/apps/devupdate.png ./usr/share/icons/hicolor/scalable/apps/devupdate.svg \
    ./usr/share/bash-completion/completions/devupdate-cli ./usr/share/bash-completion/completions/mkupd \
    ./usr/share/doc/devupdate/copyright ./usr/share/doc/devupdate/examples/70-devupdate.rules.example; do
  grep -qxF "$path" <<<"$contents" || fail "$path missing"
done
# Nothing of the build's own: no test programs, no libraries, no headers.
if grep -E '_tests$|\.a$|\.h$|/bench' <<<"$contents"; then
  fail "files that do not belong in the package"
fi

depends=$(dpkg-deb -f "$package" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libqt6widgets6; do
  grep -q "$library (>= " <<<"$depends" || fail "Depends lacks $library"
done

echo "== lintian"
lintian_output=$(lintian "$package" 2>&1 | grep -v 'running with root privileges' || true)
echo "${lintian_output:-(no tags)}"
if grep -qE '^[EW]: ' <<<"$lintian_output"; then
  fail "lintian reports errors or warnings"
fi

echo "== installed programs, from an unpacked root"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$package" "$root"
version=$("$root/usr/bin/devupdate-cli" --version)
echo "$version"
[[ $version == "update-cli V"* ]] || fail "devupdate-cli --version said: $version"
ports=$(HOME="$root/home" XDG_CONFIG_HOME= "$root/usr/bin/devupdate-cli" --list-ports)
echo "$ports"
grep -q '^Com1 -> ' <<<"$ports" || fail "--list-ports names no Com1"
grep -q '^Com10 -> ' <<<"$ports" || fail "--list-ports names no Com10"
"$root/usr/bin/mkupd" --sample "$root/sample.upd"
"$root/usr/bin/devupdate-cli" --check "$root/sample.upd" >/dev/null || fail "devupdate-cli --check of mkupd's sample"
echo "package checks passed"
