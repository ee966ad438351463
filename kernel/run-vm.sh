#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs programs of the build inside a small virtual machine whose kernel has
# uhid, so that they meet real kernel HID devices. The machine is Debian's
# kernel image booted by qemu under software emulation (no KVM needed) with
# an initramfs made here from busybox, the kernel's HID modules, the
# programs, the shared libraries they load and Qt's offscreen platform
# plugin. The kernel, its modules and the static busybox come from Debian's
# packages, downloaded and unpacked once into BUILD/kernel-vm-parts (nothing
# is installed for them); the machine is written under BUILD/kernel-vm.
# Nothing else on this machine is touched. The machine reports over its serial console
# and powers itself off; a hard time limit ends it in any case.
#
# usage: kernel/run-vm.sh BUILD tests|bench
#   tests  tst_kernel_hid (every test against uhid devices), the window's
#          and zud-wheel's tests against them
#   bench  bench_kernel_stream on hidraw and on the virtual bus
# Environment: ZUD_VM_TIME_LIMIT (seconds, default 900), ZUD_VM_MEMORY (MiB,
# default 1024), ZUD_VM_CPUS (default 2), BENCH_SECONDS (passed on),
# ZUD_VM_PROGRAMS (the programs to run instead of the mode's).
# Exit status: 0 when every program passed, 1 when one failed, 2 when the
# machine could not be built, 3 when it did not finish, 77 when this
# machine lacks what the virtual machine needs (qemu, or the kernel image and
# busybox from Debian's archive): the caller may count that as skipped.
set -euo pipefail

BUILD=${1:?usage: $0 BUILD tests|bench}
MODE=${2:?usage: $0 BUILD tests|bench}
BUILD=$(cd "$BUILD" && pwd)
OUT=$BUILD/kernel-vm
TIME_LIMIT=${ZUD_VM_TIME_LIMIT:-900}
MEMORY=${ZUD_VM_MEMORY:-1024}
CPUS=${ZUD_VM_CPUS:-2}
END_MARK="=== ZUD-VM-END"

fail() {
    echo "run-vm: $*" >&2
    exit 2
}

cannot_run() {
    echo "run-vm: SKIPPED, this machine cannot run the kernel tests: $*" >&2
    exit 77
}

# Each entry is a program of the build, or program:testFunction for one Qt
# Test function of it.
case "$MODE" in
tests) PROGRAMS="tst_kernel_hid tst_kernel_window:window_followsWheelBaseIntoBootloaderAndBack tst_kernel_window:window_updatesFirmwareBetweenBothReplugs tst_kernel_window:window_releasesTestForceOnSigterm tst_kernel_cli" ;;
bench) PROGRAMS="bench_kernel_stream bench_kernel_stream_vhid" ;;
*) fail "unknown mode '$MODE' (tests or bench)" ;;
esac
# ZUD_VM_PROGRAMS runs other programs of the build instead (one run, by hand).
PROGRAMS=${ZUD_VM_PROGRAMS:-$PROGRAMS}

command -v qemu-system-x86_64 >/dev/null || cannot_run "qemu-system-x86_64 missing (install qemu-system-x86)"

# Debian's kernel image, its HID modules and a static busybox, downloaded
# and unpacked under the build folder once (kernel/fetch-vm-parts.sh):
# nothing is installed on this machine for them.
PARTS=$BUILD/kernel-vm-parts
status=0
"$(dirname "$0")/fetch-vm-parts.sh" "$PARTS" || status=$?
[ $status -eq 77 ] && exit 77
[ $status -eq 0 ] || fail "cannot prepare the kernel and busybox under $PARTS"
KERNEL=$(ls -1 "$PARTS"/boot/vmlinuz-* | head -n1)
KVER=${KERNEL##*/vmlinuz-}
MODULES=$PARTS/lib/modules/$KVER/kernel/drivers/hid
BUSYBOX=$PARTS/bin/busybox
[ -x "$BUSYBOX" ] && ! ldd "$BUSYBOX" >/dev/null 2>&1 || fail "$BUSYBOX is not a static program"

rm -rf "$OUT"
ROOT=$OUT/root
mkdir -p "$ROOT"/{bin,dev,proc,sys,tmp,zud/bin,lib/modules}

cp "$BUSYBOX" "$ROOT/bin/busybox"
ln -s busybox "$ROOT/bin/sh"

# hid.ko carries hidraw; hid-generic binds the devices; uhid creates them.
for module in hid hid-generic uhid; do
    source=$(ls "$MODULES/$module".ko* | head -n1)
    case "$source" in
    *.ko) cp "$source" "$ROOT/lib/modules/$module.ko" ;;
    *.ko.xz) xz -dc "$source" >"$ROOT/lib/modules/$module.ko" ;;
    *.ko.zst) zstd -dcq "$source" >"$ROOT/lib/modules/$module.ko" ;;
    *) fail "cannot unpack $source" ;;
    esac
done

# Copies every shared library a file loads to the same place inside.
copy_libraries() {
    ldd "$1" | awk '/=> \// { print $3 } /^\t\// { print $1 }' | while read -r lib; do
        if [ ! -e "$ROOT$lib" ]; then
            mkdir -p "$ROOT$(dirname "$lib")"
            cp -L "$lib" "$ROOT$lib"
        fi
    done
}

BINARIES=$(for entry in zud_uhid $PROGRAMS; do echo "${entry%%:*}"; done | sort -u)
for program in $BINARIES; do
    found=$(find "$BUILD" -path "$OUT" -prune -o -type f -name "$program" -perm -u+x -print | head -n1)
    [ -n "$found" ] || fail "$program is not built in $BUILD"
    cp "$found" "$ROOT/zud/bin/$program"
    copy_libraries "$found"
done
cp "$BUILD/ZUD_wheel_tool" "$ROOT/zud/ZUD_wheel_tool" 2>/dev/null || fail "ZUD_wheel_tool is not built"
copy_libraries "$BUILD/ZUD_wheel_tool"
# The command line, which tst_kernel_cli runs as `zud-wheel list --json` and
# `zud-wheel update-firmware`.
cp "$BUILD/zud-wheel" "$ROOT/zud/zud-wheel" 2>/dev/null || fail "zud-wheel is not built"
copy_libraries "$BUILD/zud-wheel"
# This machine's sleep, which tst_kernel_cli copies under a game's name for
# `zud-wheel watch` to see (busybox's applets take their name from argv[0]).
SLEEP=$(command -v sleep)
cp -L "$SLEEP" "$ROOT/zud/sleep"
copy_libraries "$SLEEP"

# Qt's offscreen platform for programs with widgets, where Qt looks for it.
QT_PLUGINS=$(qtpaths --plugin-dir 2>/dev/null || echo /usr/lib/x86_64-linux-gnu/qt5/plugins)
plugin=$QT_PLUGINS/platforms/libqoffscreen.so
if [ -r "$plugin" ]; then
    mkdir -p "$ROOT$(dirname "$plugin")"
    cp -L "$plugin" "$ROOT$plugin"
    copy_libraries "$plugin"
fi

# Fontconfig's setup and one font family, when this machine has them, so that
# widgets lay out their texts as on a desktop.
if [ -d /etc/fonts ] && ls /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf >/dev/null 2>&1; then
    mkdir -p "$ROOT/etc" "$ROOT/usr/share/fonts/truetype/dejavu"
    cp -rL /etc/fonts "$ROOT/etc/fonts"
    cp /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf "$ROOT/usr/share/fonts/truetype/dejavu/"
fi

cat >"$ROOT/init" <<EOF
#!/bin/sh
# The machine's only process tree: set up, run the programs, report, power off.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t tmpfs tmp /tmp
for m in hid hid-generic uhid; do insmod /lib/modules/\$m.ko || echo "insmod \$m failed"; done
n=0
while [ ! -c /dev/uhid ] && [ \$n -lt 100 ]; do sleep 0.1; n=\$((n + 1)); done
mkdir -m 0700 /tmp/runtime
export HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime QT_QPA_PLATFORM=offscreen QTEST_FUNCTION_TIMEOUT=300000
export ZUD_UHID=/zud/bin/zud_uhid ZUD_TOOL=/zud/ZUD_wheel_tool ZUD_WHEEL=/zud/zud-wheel ZUD_SLEEP=/zud/sleep
export BENCH_SECONDS=${BENCH_SECONDS:-10}
cd /tmp
echo "=== ZUD-VM kernel \$(uname -r), \$(nproc) CPUs"
failed=0
for p in $PROGRAMS; do
    echo "=== ZUD-VM run \$p"
    start=\$(cut -d' ' -f1 /proc/uptime)
    program=\${p%%:*}
    function=\${p#\$program}
    timeout $TIME_LIMIT /zud/bin/\$program \${function#:} 2>&1
    rc=\$?
    end=\$(cut -d' ' -f1 /proc/uptime)
    echo "=== ZUD-VM result \$p rc=\$rc (\$start s to \$end s after boot)"
    [ \$rc -eq 0 ] || failed=\$((failed + 1))
done
echo "$END_MARK failed=\$failed"
sync
poweroff -f
EOF
chmod +x "$ROOT/init"

(cd "$ROOT" && find . -print | "$BUSYBOX" cpio -o -H newc 2>/dev/null) >"$OUT/initramfs.cpio" ||
    fail "cannot pack the initramfs"
echo "run-vm: kernel $KVER, initramfs $(du -h "$OUT/initramfs.cpio" | cut -f1), time limit ${TIME_LIMIT} s"

LOG=$OUT/serial.log
started=$(date +%s)
set +e
# The console's escape sequences (the firmware clears the screen) and line
# feeds' carriage returns are removed before the output is shown and kept.
timeout -k 10 "$TIME_LIMIT" qemu-system-x86_64 \
    -accel tcg -smp "$CPUS" -m "$MEMORY" \
    -nographic -net none -no-reboot \
    -kernel "$KERNEL" -initrd "$OUT/initramfs.cpio" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3" </dev/null 2>&1 |
    tr -d '\r' | sed -u -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1bc//g' | tee "$LOG"
qemu_rc=${PIPESTATUS[0]}
set -e
elapsed=$(($(date +%s) - started))

end_line=$(grep -a "^$END_MARK" "$LOG" | tail -n1 || true)
if [ -z "$end_line" ]; then
    echo "run-vm: the machine did not finish (qemu status $qemu_rc after ${elapsed} s; limit ${TIME_LIMIT} s)" >&2
    exit 3
fi
failed=${end_line##*failed=}
echo "run-vm: $MODE finished in ${elapsed} s of wall time, $failed program(s) failed"
[ "$failed" = 0 ]
