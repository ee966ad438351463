# SPDX-License-Identifier: GPL-3.0-or-later
# One command to run the tool and one to run the tests on a fresh Debian 12
# machine: both install what is missing, configure, build, then act.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
# `make install` puts the tool under PREFIX (staged under DESTDIR if set).
PREFIX   ?= /usr/local
DESTDIR  ?=

# Debian packages, one list per purpose; each target installs the lists it
# needs and nothing else (`make print-packages` shows them).
# Building and running the tool: compiler, CMake, Qt 5, hidapi and QCustomPlot
# (the Scope page's plot).
BUILD_PACKAGES = cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libhidapi-dev \
                 libqcustomplot-dev
# `make deb`: dpkg-shlibdeps (dpkg-dev) and file, which CPack runs on the
# binaries to find their library dependencies.
DEB_PACKAGES = dpkg-dev file
# `make format`, `make format-check`.
FORMAT_PACKAGES = clang-format
# The virtual machine of the kernel HID tests: qemu. Its kernel and busybox
# are downloaded and unpacked under the build folder, never installed
# (kernel/fetch-vm-parts.sh).
VM_PACKAGES = qemu-system-x86
# The tests besides the build: the formatting check, the desktop entry and
# metainfo validators, the MinGW-w64 cross compilers of the Windows layer's
# check, the kernel HID tests' machine, the package with its lintian check,
# and jq, which the examples in docs/command-line.md use (tst_cli runs them).
TEST_PACKAGES = $(FORMAT_PACKAGES) desktop-file-utils appstream jq \
                g++-mingw-w64-i686 g++-mingw-w64-x86-64 $(VM_PACKAGES) \
                $(DEB_PACKAGES) lintian
# `make test-windows`: the MinGW-w64 cross compilers, hidapi's header,
# binutils (for the script's check that the kernel runs 32-bit programs) and
# Wine for 64-bit programs. Wine for 32-bit programs (wine32, from the i386
# architecture) is added by tests/win32/run.sh, only when run as root.
WINDOWS_PACKAGES = cmake make pkg-config libhidapi-dev binutils g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64

# $(call apt_install,PACKAGES): installs those of PACKAGES that are missing,
# as root or through sudo, and leaves the others alone.
define apt_install
@missing=""; \
for p in $(1); do \
  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
done; \
if [ -n "$$missing" ]; then \
  echo "Installing:$$missing"; \
  SUDO=; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
  $$SUDO apt-get update -qq && \
  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=600 $$missing; \
fi
endef

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps test-deps deb-deps print-packages configure build run demo demo-cli test deb test-kernel test-windows test-asan test-tsan fuzz fuzz-run bench bench-kernel screenshot rim soak soak-leaks install format format-check clean

all: build

deps:
	$(call apt_install,$(BUILD_PACKAGES))

test-deps:
	$(call apt_install,$(BUILD_PACKAGES) $(TEST_PACKAGES))

deb-deps:
	$(call apt_install,$(BUILD_PACKAGES) $(DEB_PACKAGES))

print-packages:
	@echo "build, run, demo, demo-cli, install, bench, soak: $(BUILD_PACKAGES)"
	@echo "test, test-asan, test-tsan: $(BUILD_PACKAGES) $(TEST_PACKAGES)"
	@echo "deb: $(BUILD_PACKAGES) $(DEB_PACKAGES)"
	@echo "format, format-check: $(FORMAT_PACKAGES)"
	@echo "test-kernel, bench-kernel: $(BUILD_PACKAGES) $(VM_PACKAGES)"
	@echo "test-windows: $(WINDOWS_PACKAGES), and as root wine32:i386"
	@echo "screenshot: $(BUILD_PACKAGES) $(SCREENSHOT_PACKAGES)"
	@echo "fuzz, fuzz-run: $(BUILD_PACKAGES) $(FUZZ_PACKAGES)"

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	env -u QT_QPA_PLATFORMTHEME ./$(BUILD)/ZUD_wheel_tool

demo: build
	env -u QT_QPA_PLATFORMTHEME ./$(BUILD)/ZUD_wheel_tool_demo

# The command line on the demo's emulated rig: make demo-cli ARGS="list --json"
ARGS ?= --help
demo-cli: build
	./$(BUILD)/zud-wheel-demo $(ARGS)

# The test packages come first: configuring finds the validators and lintian.
test: test-deps
	@$(MAKE) --no-print-directory build format-check
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# build/zud-wheel-tool_VERSION_ARCH.deb: what `make install PREFIX=/usr`
# installs, with dependencies from dpkg-shlibdeps (dist/DebPackage.cmake).
# `make test` makes it too and checks its files and lintian's verdict.
# Install it with: sudo apt install ./build/zud-wheel-tool_*.deb
deb: deb-deps build
	cd $(BUILD) && cpack -G DEB

# The tests against kernel HID devices alone, in a virtual machine (make test
# runs them too, as the CTest test kernel_vm).
test-kernel: build
	$(call apt_install,$(VM_PACKAGES))
	kernel/run-vm.sh $(BUILD) tests

# The Windows read layer's tests: cross-compiled with MinGW-w64 and run under
# Wine, for each of WINDOWS_ARCHS, in build-windows/ (tests/win32/run.sh).
# The i686 run needs wine32 from the i386 architecture, which the script adds
# only when run as root, and skips otherwise.
WINDOWS_ARCHS ?= x86_64 i686

test-windows:
	$(call apt_install,$(WINDOWS_PACKAGES))
	JOBS=$(JOBS) tests/win32/run.sh build-windows $(WINDOWS_ARCHS)

# The whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (leak checking on), and under ThreadSanitizer, each in a build of its own.
test-asan: test-deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUD_SANITIZE=address -DZUD_BUILD_BENCH=OFF
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

test-tsan: test-deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZUD_SANITIZE=thread -DZUD_BUILD_BENCH=OFF
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && ctest --output-on-failure -j$(JOBS)

# The binary, the menu entry, the AppStream metainfo, the icons and the udev
# rule. udev reads PREFIX/lib/udev/rules.d for /usr and /usr/local; reload
# it so that a device plugged in already gets its new permissions.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"
	@if [ -z "$(DESTDIR)" ] && command -v udevadm >/dev/null 2>&1; then \
	  udevadm control --reload-rules 2>/dev/null && \
	  udevadm trigger --subsystem-match=hidraw 2>/dev/null || \
	  echo "Reload udev to apply the rule: sudo udevadm control --reload-rules && sudo udevadm trigger"; \
	fi

# libFuzzer targets, built with clang into build-fuzz; `make fuzz-run` runs
# each for FUZZ_SECONDS over a working copy of its seed corpus in fuzz-out/.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS = fuzz_wheelbase fuzz_pedals fuzz_bootloader fuzz_window fuzz_profilefile fuzz_gamerules
FUZZ_PACKAGES = clang libclang-rt-14-dev
fuzz: deps
	$(call apt_install,$(FUZZ_PACKAGES))
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DZUD_SANITIZE=fuzzer -DZUD_BUILD_TESTS=OFF -DZUD_BUILD_BENCH=OFF
	cmake --build build-fuzz -j$(JOBS) --target $(FUZZ_TARGETS)

# fuzz_window runs without per-input leak checks: fontconfig, loaded by Qt on
# the first text layout, keeps allocations that LeakSanitizer reports as leaks
# (the window's own leaks are checked by make test-asan and make soak-leaks).
fuzz-run: fuzz
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p fuzz-out/$$t && cp -n fuzz/corpus/$$t/* fuzz-out/$$t/ 2>/dev/null; \
	  echo "== $$t for $(FUZZ_SECONDS) s"; \
	  leaks=1; [ $$t = fuzz_window ] && leaks=0; \
	  ASAN_OPTIONS=detect_leaks=$$leaks QT_QPA_PLATFORM=offscreen \
	    ./build-fuzz/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -detect_leaks=$$leaks \
	    -artifact_prefix=$(CURDIR)/fuzz-out/ -max_len=8192 -print_final_stats=1 \
	    $(CURDIR)/fuzz-out/$$t 2>&1 | tail -12; \
	done

bench: build
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	./$(BUILD)/bench/bench_reader
	./$(BUILD)/bench/bench_idle_hidraw
	./$(BUILD)/bench/bench_profiles
	./$(BUILD)/bench/bench_firmware
	./$(BUILD)/bench/bench_liveview
	./$(BUILD)/bench/bench_logging
	./$(BUILD)/bench/bench_gamewatcher
	@if [ -x ./$(BUILD)/bench/bench_plotlibs ]; then ./$(BUILD)/bench/bench_plotlibs; \
	 else echo "bench_plotlibs: not built (it compares with Qwt: apt-get install libqwt-qt5-dev)"; fi

# docs/screenshot.png: the demo, shown on a virtual X display, pictured once
# its wheel base has loaded and turned; docs/debug-page.png: the same on the
# "Debug" page; docs/no-device.png: the demo with nothing plugged in, as a
# first-time user sees the window; docs/games-page.png: the "Games" page with
# the demo's game rule; docs/tray-menu.png: the tray icon's menu, opened on
# its own (Xvfb has no tray). Xvfb is installed only for this target.
# Each picture starts without the window's remembered size and place.
SCREENSHOT_PACKAGES = xvfb xauth
SCREENSHOT_SCENE = ./$(BUILD)/ZUD_wheel_tool_demo
SCREENSHOT_CONFIG = $(abspath $(BUILD))/screenshot-config

screenshot: build
	$(call apt_install,$(SCREENSHOT_PACKAGES))
	cmake --build $(BUILD) -j$(JOBS) --target zud_grab_screen ZUD_wheel_tool_demo
	mkdir -p docs
	for shot in "screenshot.png 3000" "debug-page.png 3000 --debug-page" \
	            "no-device.png 2000 --no-devices" "games-page.png 3000 --games-page" \
	            "tray-menu.png 3000 --tray-menu"; do \
	  set -- $$shot; picture=$$1; delay=$$2; shift 2; rm -rf $(SCREENSHOT_CONFIG); \
	  env -u QT_QPA_PLATFORMTHEME XDG_CONFIG_HOME=$(SCREENSHOT_CONFIG) QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 800x600x24" \
	    sh -c '$(SCREENSHOT_SCENE) "$$@" >/dev/null & scene=$$!; \
	           ./$(BUILD)/zud_grab_screen docs/'"$$picture $$delay"'; status=$$?; \
	           kill $$scene 2>/dev/null; wait $$scene 2>/dev/null; exit $$status' sh "$$@" \
	    || exit 1; \
	done
	# docs/scope.png: the demo on its Scope page, after a few seconds of a lap.
	rm -rf $(SCREENSHOT_CONFIG)
	env -u QT_QPA_PLATFORMTHEME XDG_CONFIG_HOME=$(SCREENSHOT_CONFIG) QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
	  sh -c '$(SCREENSHOT_SCENE) --scope >/dev/null & scene=$$!; \
	         ./$(BUILD)/zud_grab_screen docs/scope.png 7000; status=$$?; \
	         kill $$scene 2>/dev/null; wait $$scene 2>/dev/null; exit $$status'

# resources/rim.png, drawn by resources/make_rim.cpp.
rim: configure
	cmake --build $(BUILD) -j$(JOBS) --target rim

# Three uhid devices streaming 1000 reports/s each, read on hidraw and on the
# virtual bus, inside the virtual machine.
bench-kernel: build
	$(call apt_install,$(VM_PACKAGES))
	kernel/run-vm.sh $(BUILD) bench

# Soak: the main window (offscreen) against three emulated devices at 1000
# reports per second for SOAK_SECONDS, driven through its widgets: the wheel
# base logged to CSV for the whole run, replugs of a second wheel base,
# reloads, edits and saves, and firmware updates through the file chooser;
# prints what was delivered, lost and logged, resident memory and the GUI
# thread's busy share. The logs go to a temporary directory (SOAK_LOG_DIR=dir
# to keep them). soak-leaks runs a shorter soak in the AddressSanitizer build
# with leak checking on: any leak fails it.
SOAK_SECONDS ?= 600
SOAK_LEAK_SECONDS ?= 60
soak: build
	cmake --build $(BUILD) -j$(JOBS) --target soak
	SOAK_SECONDS=$(SOAK_SECONDS) nice ./$(BUILD)/bench/soak

soak-leaks: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUD_SANITIZE=address -DZUD_BUILD_BENCH=ON
	cmake --build build-asan -j$(JOBS) --target soak
	SOAK_SECONDS=$(SOAK_LEAK_SECONDS) \
	  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:fast_unwind_on_malloc=0 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
	  nice ./build-asan/bench/soak && echo "LeakSanitizer: no leaks"

format:
	$(call apt_install,$(FORMAT_PACKAGES))
	clang-format -i $(SOURCES)

format-check:
	$(call apt_install,$(FORMAT_PACKAGES))
	clang-format --dry-run -Werror $(SOURCES)

clean:
	rm -rf $(BUILD)
