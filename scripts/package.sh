#!/usr/bin/env bash
# Builds the Debian packages from debian/ with dpkg-buildpackage, from a clean
# copy of the source tree, and checks them: lintian (no error, warning or
# hardening tag), their contents and Depends (the command line's package
# without Qt), then installs both with apt-get, runs every installed program's
# --version as a user who is not root, removes them and checks that nothing of
# theirs is left.
#   scripts/package.sh   leaves build/package/devupdate{,-cli}_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
fail() { echo "package check failed: $*" >&2; exit 1; }
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  as_root=(sudo)
fi

# The clean copy: the files git knows or would add (no build folders), so
# uncommitted work is packaged as it is. A fixed place keeps ccache useful.
version=$(dpkg-parsechangelog -S Version)
work=build/package
source_dir=$work/devupdate-${version%-*}
rm -rf "$work"
mkdir -p "$source_dir"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' file; do if [ -e "$file" ]; then printf '%s\0' "$file"; fi; done |
  tar --null -T - -cf - | tar -xf - -C "$source_dir"

echo "== dpkg-buildpackage"
# Two jobs (the CI machine's cores); no automatic debug symbol packages, which
# CI neither checks nor keeps.
(cd "$source_dir" && DEB_BUILD_OPTIONS="parallel=2 noautodbgsym ${DEB_BUILD_OPTIONS:-}" dpkg-buildpackage -us -uc -b)
arch=$(dpkg-architecture -q DEB_HOST_ARCH)
cli_deb=$work/devupdate-cli_${version}_${arch}.deb
gui_deb=$work/devupdate_${version}_${arch}.deb
changes=$work/devupdate_${version}_${arch}.changes

echo "== lintian -I --pedantic"
lintian_output=$(lintian -I --pedantic "$changes" 2>&1 | grep -v 'running with root privileges' || true)
echo "${lintian_output:-(no tags)}"
if grep -qE '^[EW]: |hardening' <<<"$lintian_output"; then
  fail "lintian reports errors, warnings or hardening tags"
fi

echo "== contents and Depends"
contents_of() { dpkg-deb -c "$1" | awk '{print $6}' | sed 's|^\./|/|'; }
expect_files() {
  local package=$1; shift
  local contents
  contents=$(contents_of "$package")
  for path in "$@"; do
    grep -qxF "$path" <<<"$contents" || fail "$path missing from $package"
  done
  # Nothing of the build's own: no test programs, libraries or headers.
  if grep -E '_tests$|\.a$|\.h$|bench' <<<"$contents"; then
    fail "files that do not belong in $package"
  fi
}
expect_files "$cli_deb" \
  /usr/bin/devupdate-cli /usr/bin/devupdate-sim /usr/bin/mkupd \
  /usr/share/man/man1/devupdate-cli.1.gz /usr/share/man/man1/devupdate-sim.1.gz \
  /usr/share/man/man1/mkupd.1.gz /usr/share/man/man5/devupdate-json.5.gz \
  /usr/share/bash-completion/completions/devupdate-cli /usr/share/bash-completion/completions/mkupd \
  /usr/share/doc/devupdate-cli/README.md.gz /usr/share/doc/devupdate-cli/copyright \
  /usr/share/doc/devupdate-cli/examples/70-devupdate.rules.example /usr/share/doc/devupdate-cli/examples/sample.upd
expect_files "$gui_deb" \
  /usr/bin/devupdate /usr/share/man/man1/devupdate.1.gz \
  /usr/share/applications/devupdate.desktop /usr/share/mime/packages/devupdate.xml \
  /usr/share/metainfo/org.example.devupdate.metainfo.xml \
  /usr/share/icons/hicolor/48x48/apps/devupdate.png /usr/share/icons/hicolor/scalable/apps/devupdate.svg
if contents_of "$gui_deb" | grep -E '^/usr/bin/(devupdate-cli|devupdate-sim|mkupd)$'; then
  fail "the window's package holds the command line's programs"
fi

cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
gui_depends=$(dpkg-deb -f "$gui_deb" Depends)
echo "devupdate-cli Depends: $cli_depends"
echo "devupdate Depends: $gui_depends"
if grep -qi 'qt' <<<"$cli_depends"; then
  fail "devupdate-cli depends on Qt"
fi
for dependency in "devupdate-cli (= $version)" "qt6-qpa-plugins" "libqt6widgets6 (>= "; do
  grep -qF "$dependency" <<<"$gui_depends" || fail "devupdate lacks the Depends $dependency"
done
appstreamcli validate --no-net "$source_dir/packaging/org.example.devupdate.metainfo.xml"

echo "== installed with apt-get, run as a user who is not root, removed"
apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300)
"${apt[@]}" install -y --no-install-recommends "./$cli_deb" "./$gui_deb"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env)
fi
# Every program of both packages, without a display; none of the command
# line's links Qt.
for program in $( (contents_of "$cli_deb"; contents_of "$gui_deb") | grep '^/usr/bin/.'); do
  said=$(cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "${as_user[@]}" "$program" --version) ||
    fail "$program --version failed"
  echo "$said"
  [ "$said" = "$(basename "$program") V${version%-*}" ] || fail "$program --version said: $said"
done
for program in $(contents_of "$cli_deb" | grep '^/usr/bin/.'); do
  if ldd "$program" | grep -i 'libQt'; then
    fail "$program links Qt"
  fi
done
installed_files=$( (contents_of "$cli_deb"; contents_of "$gui_deb") | grep -v '/$')
"${apt[@]}" purge -y devupdate devupdate-cli
while IFS= read -r path; do
  if dpkg -S "$path" >/dev/null 2>&1 || [ -e "$path" ] || [ -L "$path" ]; then
    fail "$path is left after the packages were removed"
  fi
done <<<"$installed_files"
echo "package checks passed"
