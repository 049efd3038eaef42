#!/usr/bin/env bash
# lintian, Debian's package checker, finds no error and no warning in the
# package nor in the source package it was built from (its informational
# tags are printed, not counted).
#
#   lintian.sh <package folder> <build folder> <version>
#
# Skipped (exit 77) without the package or lintian, unless
# WAKORA_REQUIRE_PACKAGE is set, as scripts/test sets it.
set -uo pipefail

packages=$1
version=$3 # $2, the build folder, is not needed here

missing() {
    echo "$1"
    [ -n "${WAKORA_REQUIRE_PACKAGE:-}" ] && exit 1
    exit 77
}
command -v lintian >/dev/null || missing "SKIP: lintian is not installed"
deb=$packages/wakora_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || missing "No package $deb: make it with scripts/package"
dsc=$packages/wakora_$version.dsc
[ -f "$dsc" ] || missing "No source package $dsc: make it with scripts/package"

# lintian says on standard error that it runs as root, as CI does.
lintian --display-info --fail-on error,warning "$dsc" "$deb" 2> >(grep -v 'running with root privileges' >&2)
status=$?
[ "$status" -eq 0 ] && echo "lintian: no error and no warning in $(basename "$dsc") and $(basename "$deb")"
exit "$status"
