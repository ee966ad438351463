#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# make test-windows: cross-compiles the tests of the Windows read layer
# (tst_hidsplit_win32.cpp) and of the Toolhelp process list
# (tst_toolhelp_win32.cpp) with MinGW-w64 and runs them under Wine, once per
# architecture named (x86_64, i686), each in a Wine prefix of its own under
# the build folder.
#
#   tests/win32/run.sh BUILD_DIR ARCH...
#
# The Makefile installs MinGW-w64, binutils and wine64 first. 32-bit Windows
# programs need Debian's wine32, from the i386 architecture: run as root (as
# CI is), the script adds that architecture and installs wine32; otherwise it
# skips the 32-bit run and says why. It also skips it, before installing
# anything, where the machine cannot run 32-bit programs.
set -euo pipefail

build=$1
shift
src=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$build"
build=$(cd "$build" && pwd)
jobs=${JOBS:-2}
skipped=""

# Whether this machine runs 32-bit x86 programs at all: some kernels are
# built without that support or have it switched off, and there wine32
# fails with "cannot execute binary file: Exec format error". Asked of the
# kernel by running a tiny i386 program, assembled and linked here with
# binutils (it needs no 32-bit libraries), that exits with status 42. On
# failure the reason is in $no32bit.
no32bit=""
runs_32bit_programs() {
    local dir status=0
    # In the build folder, where the test programs run too.
    dir=$(mktemp -d "$build/probe32.XXXXXX") || exit 1
    # shellcheck disable=SC2016 # the dollars are the assembler's
    printf '%s\n' '.globl _start' '_start:' '    movl $1, %eax' '    movl $42, %ebx' \
        '    int $0x80' >"$dir/probe.s"
    if ! as --32 -o "$dir/probe.o" "$dir/probe.s" ||
        ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o"; then
        rm -rf "$dir"
        echo "test-windows: cannot build the 32-bit test program with binutils" >&2
        exit 1
    fi
    ("$dir/probe") 2>"$dir/error" || status=$?
    if [ "$status" -ne 42 ]; then
        # The shell's message, without its "script: line N:" prefix.
        no32bit=$(tr '\n' ' ' <"$dir/error" | sed 's/^.*: line [0-9]*: //; s/ *$//')
        [ -n "$no32bit" ] || no32bit="it ended with status $status"
    fi
    rm -rf "$dir"
    [ "$status" -eq 42 ]
}

# The 32-bit Wine loader, installed on demand where the kernel can run it.
have_wine32() {
    if ! runs_32bit_programs; then
        echo "test-windows: skipping the i686 run: this machine cannot run 32-bit x86" \
             "programs, so neither can wine32 (a 32-bit test program failed: $no32bit)"
        return 1
    fi
    [ -x /usr/lib/wine/wine ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "test-windows: skipping the i686 run: 32-bit Windows programs need wine32 from" \
             "Debian's i386 architecture, which this target adds only when run as root" \
             "(or: sudo dpkg --add-architecture i386 && sudo apt-get update &&" \
             "sudo apt-get install wine32:i386)"
        return 1
    fi
    local started=$SECONDS
    echo "test-windows: adding the i386 architecture and installing wine32"
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 wine32:i386 >/dev/null
    echo "test-windows: wine32 installed in $((SECONDS - started)) s"
    [ -x /usr/lib/wine/wine ]
}

hidapi_include=$(pkg-config --variable=includedir hidapi-hidraw)/hidapi
# The host's Qt headers, for the compile check of the game rules' Windows
# side (left out where Qt's development files are not installed).
qt_include=$(pkg-config --variable=includedir Qt5Core 2>/dev/null || true)

for arch in "$@"; do
    case $arch in
    x86_64) loader=/usr/lib/wine/wine64 winearch=win64 ;;
    i686) loader=/usr/lib/wine/wine winearch=win32 ;;
    *)
        echo "test-windows: unknown architecture $arch (x86_64 or i686)" >&2
        exit 2
        ;;
    esac
    started=$SECONDS
    if [ "$arch" = i686 ] && ! have_wine32; then
        skipped="$skipped $arch"
        continue
    fi

    echo "== $arch: building"
    bin=$build/$arch
    cmake -S "$src/cmake/win32-check" -B "$bin" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$src/cmake/toolchain-mingw-w64-$arch.cmake" \
        -DZUD_SOURCE_DIR="$src" -DHIDAPI_INCLUDE_DIR="$hidapi_include" \
        -DQT_INCLUDE_DIR="$qt_include" >/dev/null
    targets="tst_hidsplit_win32 tst_toolhelp_win32"
    [ -z "$qt_include" ] || targets="$targets zud_win32_games"
    # shellcheck disable=SC2086 # one word per target
    cmake --build "$bin" -j"$jobs" --target $targets

    echo "== $arch: running under Wine"
    export WINEPREFIX=$build/wine-$arch WINEARCH=$winearch WINEDEBUG=-all
    # No Mono or Gecko: the prefix is made without asking for them.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$loader" wineboot --init >"$build/wineboot-$arch.log" 2>&1 || {
            cat "$build/wineboot-$arch.log" >&2
            exit 1
        }
    fi
    for test in tst_hidsplit_win32 tst_toolhelp_win32; do
        timeout 300 "$loader" "$bin/$test.exe"
    done
    echo "== $arch: done in $((SECONDS - started)) s"
done

if [ -n "$skipped" ]; then
    echo "test-windows: not run:$skipped"
fi
