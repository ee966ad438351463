#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fetches what the kernel test machine boots from Debian's archive without
# installing anything on this machine: the kernel image with its HID modules
# (the package that linux-image-amd64 depends on) and a static busybox
# (busybox-static). Both are downloaded with `apt-get download` and only the
# files the machine needs are unpacked from them, into DIR, once: a later run
# finds them there and downloads nothing.
#
# usage: kernel/fetch-vm-parts.sh DIR
# On success DIR holds boot/vmlinuz-VERSION,
# lib/modules/VERSION/kernel/drivers/hid/{hid,hid-generic,uhid}.ko* and
# bin/busybox, and DIR/packages names the packages they came from.
# Exit status: 0 ready, 77 when they cannot be had here (no archive, no
# network, not an amd64 machine; the reason is printed), 2 on any other fault.
set -euo pipefail

DIR=${1:?usage: $0 DIR}
FLAVOUR=amd64
META=linux-image-$FLAVOUR

cannot_fetch() {
    echo "fetch-vm-parts: SKIPPED, cannot fetch the test machine's kernel and busybox: $*" >&2
    exit 77
}

fail() {
    echo "fetch-vm-parts: $*" >&2
    exit 2
}

[ -r "$DIR/packages" ] && exit 0

# The programs under test run inside the machine, so it must be of this
# machine's architecture: Debian's amd64 kernel, booted by qemu-system-x86_64.
arch=$(dpkg --print-architecture 2>/dev/null || true)
[ "$arch" = amd64 ] || cannot_fetch "the test machine is x86-64 and this machine is '${arch:-not Debian}'"
command -v apt-get >/dev/null && command -v apt-cache >/dev/null && command -v dpkg-deb >/dev/null ||
    cannot_fetch "apt-get and dpkg-deb are needed"

mkdir -p "$(dirname "$DIR")"
DIR=$(cd "$(dirname "$DIR")" && pwd)/$(basename "$DIR")
# One fetch at a time; a second caller waits and then finds the parts.
exec 9>"$DIR.lock"
flock 9
[ -r "$DIR/packages" ] && exit 0

root=0
[ "$(id -u)" -eq 0 ] && root=1
apt_options=(-q -o DPkg::Lock::Timeout=300)
# As root, apt downloads through the unprivileged _apt user, who may not
# write to the build folder; it would fall back to root with a warning.
[ $root -eq 1 ] && apt_options+=(-o APT::Sandbox::User=root)

# The versioned image package that the archive's metapackage points at, or
# nothing (apt-cache fails while another apt rewrites its cache).
image_package() {
    { apt-cache show --no-all-versions "$META" 2>/dev/null || true; } |
        awk '/^Depends:/ && !done && match($0, /linux-image-[^ ,|(]+/) { print substr($0, RSTART, RLENGTH); done = 1 }'
}

updated=0
refresh_lists() {
    [ $updated -eq 0 ] || return 1
    [ $root -eq 1 ] || return 1
    echo "fetch-vm-parts: updating apt's package lists" >&2
    updated=1
    apt-get "${apt_options[@]}" update >/dev/null 2>&1
}

image=$(image_package)
if [ -z "$image" ]; then
    refresh_lists || sleep 5
    image=$(image_package)
    [ -n "$image" ] || cannot_fetch "apt's package lists do not know $META (run 'sudo apt-get update')"
fi

work=$(mktemp -d "$DIR.XXXXXX")
trap 'rm -rf "$work"' EXIT
download() {
    (cd "$work" && apt-get "${apt_options[@]}" download "$image" busybox-static >"$work/apt.log" 2>&1)
}
echo "fetch-vm-parts: downloading $image and busybox-static" >&2
if ! download; then
    # Stale lists name files the archive no longer has (refreshed as root),
    # or the network failed once: one more try.
    echo "fetch-vm-parts: $(tail -n1 "$work/apt.log")" >&2
    refresh_lists || true
    image=$(image_package)
    download || cannot_fetch "apt-get download failed (no network, no archive, or package lists out of date: run 'sudo apt-get update'): $(tail -n1 "$work/apt.log")"
fi

# Only the files the machine boots from, not the whole kernel's modules.
unpack() {
    local deb=$1
    shift
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work/parts" --wildcards "$@" ||
        fail "$deb lacks one of: $*"
}
mkdir -p "$work/parts"
unpack "$work/${image}"_*.deb './boot/vmlinuz-*' \
    '*/modules/*/kernel/drivers/hid/hid.ko*' \
    '*/modules/*/kernel/drivers/hid/hid-generic.ko*' \
    '*/modules/*/kernel/drivers/hid/uhid.ko*'
unpack "$work"/busybox-static_*.deb './bin/busybox'
# Packages of a merged /usr put the modules under usr/lib.
if [ -d "$work/parts/usr/lib/modules" ] && [ ! -d "$work/parts/lib/modules" ]; then
    mkdir -p "$work/parts/lib"
    mv "$work/parts/usr/lib/modules" "$work/parts/lib/modules"
fi

for deb in "$work"/*.deb; do
    echo "$(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version)"
done >"$work/parts/packages"
rm -rf "$DIR"
mv "$work/parts" "$DIR"
echo "fetch-vm-parts: $(paste -sd',' "$DIR/packages" | sed 's/,/, /g') unpacked into $DIR" >&2
