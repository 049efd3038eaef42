#!/usr/bin/env bash
# Every program and library of the Debian package is built as Debian builds
# its own (hardening=+all): hardening-check (devscripts) finds position-
# independent code, the stack protector, fortified C library calls, read-only
# relocations and immediate binding in each, and fails on any it misses.
#
#   hardening.sh <package folder> <build folder> <version>
#
# Without the package (made by scripts/package) or hardening-check the
# test is skipped (exit 77), unless WAKORA_REQUIRE_PACKAGE is set, as
# scripts/test sets it.
set -uo pipefail

packages=$1
build=$2
version=$3
# shellcheck source-path=SCRIPTDIR source=checks.sh
source "$(dirname "$0")/checks.sh"

missing() {
    echo "$1"
    [ -n "${WAKORA_REQUIRE_PACKAGE:-}" ] && exit 1
    exit 77
}
command -v hardening-check >/dev/null || missing "SKIP: hardening-check (devscripts) is not installed"
command -v dpkg-deb >/dev/null || missing "SKIP: dpkg-deb is not installed"
deb=$packages/wakora_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || missing "No package $deb: make it with scripts/package"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb --extract "$deb" "$work"

binaries=()
while IFS= read -r -d '' file; do
    file -b "$file" | grep -q '^ELF' && binaries+=("$file")
done < <(find "$work" -type f -print0 | sort -z)
# Five programs and the library.
check "the package holds six binaries (found ${#binaries[@]})" test "${#binaries[@]}" -eq 6

# Control flow integrity is not asked: the linker keeps the CET property
# only when every object has it, and Debian 12's C runtime start files do
# not, so no program built there has it. Fortified calls are looked at
# below, as a program may have none to show.
hardened() { # binary
    local report
    report=$(hardening-check --nocfprotection --nofortify "$1" 2>&1) || {
        echo "$report"
        return 1
    }
}
fortified=()
for binary in "${binaries[@]}"; do
    check "${binary#"$work"} is hardened" hardened "$binary"
    hardening-check --nocfprotection "$binary" >/dev/null 2>&1 && fortified+=("${binary#"$work"}")
done
# _FORTIFY_SOURCE turns a call into its checked variant only where the size
# is known but not proven safe at compile time; a program whose calls are all
# proven safe, or of unknown size, shows none (hardening-check's "only
# unprotected functions found"). So: some programs show checked calls, and
# every file the build compiled had the flag.
echo "with fortified calls: ${fortified[*]}"
check "some programs call the fortified C library functions" test "${#fortified[@]}" -ge 1
unfortified_compiles() {
    local commands=$build/compile_commands.json
    [ -f "$commands" ] || {
        echo "  no $commands"
        return 1
    }
    local without
    without=$(grep '"command":' "$commands" | grep -cv -- '-D_FORTIFY_SOURCE=2')
    [ "$without" -eq 0 ] || {
        echo "  $without compile commands lack -D_FORTIFY_SOURCE=2"
        return 1
    }
}
check "every file was compiled with -D_FORTIFY_SOURCE=2" unfortified_compiles

finish "hardening of $(basename "$deb")"
