#!/usr/bin/env bash
# The Debian package as dpkg sees it: its name, its control fields and the
# dependencies dpkg-shlibdeps computed, the install layout under /usr, its
# maintainer scripts, and no path of the machine that built it.
#
#   deb-contents.sh <package folder> <build folder> <source folder> <library folder> <version>
#
# The package is made by scripts/package (scripts/test runs it). When
# it is missing the test is skipped (exit 77), unless WAKORA_REQUIRE_PACKAGE
# is set, as scripts/test sets it.
set -uo pipefail

packages=$1
build=$(cd "$2" && pwd -P)
source_dir=$(cd "$3" && pwd -P)
libdir=$4
version=$5
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

if ! command -v dpkg-deb >/dev/null; then
    echo "SKIP: dpkg-deb is not installed"
    exit 77
fi
arch=$(dpkg --print-architecture)
deb=$packages/wakora_${version}_${arch}.deb
if [ ! -f "$deb" ]; then
    echo "No package $deb: make it with scripts/package"
    [ -n "${WAKORA_REQUIRE_PACKAGE:-}" ] && exit 1
    exit 77
fi
if [ "$deb" -ot "$build/bin/Wakora" ]; then
    fail "$deb is older than the build's programs: make it again"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- control fields -----------------------------------------------------------

field() { dpkg-deb --field "$deb" "$1"; }
check "Package is wakora" test "$(field Package)" = wakora
check "Version is $version" test "$(field Version)" = "$version"
check "Architecture is $arch" test "$(field Architecture)" = "$arch"
check "Section is utils" test "$(field Section)" = utils
check "Priority is optional" test "$(field Priority)" = optional
check "Maintainer names an address" grep -Eq '^[^<]+ <[^@ ]+@[^> ]+>$' <<<"$(field Maintainer)"
check "Homepage is the product's" test "$(field Homepage)" = https://wakora.quorvel.com
check "Description has a summary and a long part" test "$(dpkg-deb --field "$deb" Description | wc -l)" -ge 3

depends=$(field Depends)
echo "Depends: $depends"
has_dependency() { # name, [with a version]
    local pattern="(^|, )$1"
    [ "${2:-}" = versioned ] && pattern+=" \\(>= [^)]+\\)"
    grep -Eq "$pattern(,|$| )" <<<"$depends"
}
check "Depends on dbus (the system bus)" has_dependency dbus
check "Depends on polkitd" has_dependency polkitd
# Qt's SVG icon engine, which draws the icons: qt6-svg-plugins from Debian 13
# on; on Debian 12 libqt6svg6 (6.4), which from 6.5 on no longer carries it.
svg_icon_engine=$(dpkg-query --search "*/qt6/plugins/iconengines/libqsvgicon.so" | cut -d: -f1)
check "Depends on qt6-svg-plugins or an older libqt6svg6, which draw the SVG icons" \
    grep -Fq "qt6-svg-plugins | libqt6svg6 (<< 6.5)" <<<"$depends"
check "this release's package of the SVG icon engine ($svg_icon_engine) is one of them" \
    grep -Eq "^(qt6-svg-plugins|libqt6svg6)$" <<<"$svg_icon_engine"
# Versioned library dependencies come only from dpkg-shlibdeps, named as this
# release names the packages that ship them (libqt6core6 and libicu72 on
# Debian 12, libqt6core6t64 and libicu76 on Debian 13).
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for file in libc.so.6 'libstdc++.so.6' libQt6Core.so.6 libQt6DBus.so.6 libQt6Widgets.so.6 libQt6Charts.so.6 \
    'libicuuc.so.[0-9]*'; do
    library=$(dpkg-query --search "*/$multiarch/$file" 2>/dev/null | head -n 1 | cut -d: -f1)
    check "Depends on ${library:-the package of $file} with a version, from the libraries' symbols" \
        has_dependency "${library//+/\\+}" versioned
done
names_no_own_library() { [[ ${1,,} != *lidbridge* ]]; }
check "no dependency on a package of our own library" names_no_own_library "$depends"

# --- the files ----------------------------------------------------------------------

tree=$work/tree
dpkg-deb --extract "$deb" "$tree"
check "everything is under /usr" test "$(ls -A "$tree")" = usr
check_layout "$tree/usr" "$libdir"
check_named_paths "$tree/usr" /usr
check_no_mention "$tree" "$build" "the build tree"
check_no_mention "$tree" "$source_dir" "the source tree"
check "files belong to root" test -z "$(dpkg-deb --contents "$deb" | awk '$2 != "root/root"')"
# gzip -9 writes 2 (maximum compression) in the header's flags byte; -n
# leaves the name flag unset and the time zero.
is_gzip_9n() {
    [ "$(od -An -tu1 -j3 -N7 "$1" | tr -s ' ')" = " 0 0 0 0 0 2 3" ]
}
all_stripped() { ! file -L "$@" | grep -q "not stripped"; }
check "the programs are stripped" all_stripped "$tree"/usr/bin/* "$tree"/usr/libexec/wakora/*

# --- maintainer scripts and /var/lib/wakora -------------------------------------------

is_strict_sh() { head -n 1 "$1" | grep -qx "#!/bin/sh" && grep -qx "set -e" "$1"; }
control=$work/control
dpkg-deb --control "$deb" "$control"
for script in postinst prerm postrm; do
    check "$script is there and executable" test -f "$control/$script" -a -x "$control/$script"
    check "$script is a shell script that stops at the first failure" \
        is_strict_sh "$control/$script"
    check "$script is valid sh" sh -n "$control/$script"
done
check "no ldconfig trigger: the library is private" test ! -e "$control/triggers"
check "the library is in no folder the loader searches" test -z "$(find "$tree/usr/lib" -maxdepth 2 -name 'lib*.so*')"
check "the changelog is gzipped as Debian's are (-9n)" is_gzip_9n "$tree/usr/share/doc/wakora/changelog.gz"
check "the changelog's last entry is this version" \
    test "$(zcat "$tree/usr/share/doc/wakora/changelog.gz" | dpkg-parsechangelog -l - -SVersion)" = "$version"
check "the copyright file is machine-readable (DEP-5)" grep -qx \
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" "$tree/usr/share/doc/wakora/copyright"
for page in "$tree"/usr/share/man/man1/*; do
    check "$(basename "$page") is gzipped as Debian's are (-9n)" is_gzip_9n "$page"
done
check "/var/lib/wakora is not shipped (postinst makes it, postrm purge removes it)" test ! -e "$tree/var"
root=$work/root
mkdir -p "$root"
check "the packaged postinst configures a root" env WAKORA_ROOT="$root" sh "$control/postinst" configure
check "and makes /var/lib/wakora mode 0755" test "$(stat -c %a "$root/var/lib/wakora" 2>/dev/null)" = 755
check "the packaged postrm purges it" env WAKORA_ROOT="$root" sh "$control/postrm" purge
check "and /var/lib/wakora is gone" test ! -e "$root/var/lib/wakora"

finish "Debian package $(basename "$deb")"
