# One command to run the tool and one to run the tests on a fresh Debian 12
# machine: both install what is missing, configure, build, then act.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the benchmarks need.
PACKAGES = cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libhidapi-dev \
           clang-format $(KERNEL_PACKAGES)
# The virtual machine of the kernel HID tests: Debian's kernel image (it has
# uhid as a module), a static busybox for its initramfs, and qemu.
KERNEL_PACKAGES = linux-image-amd64 busybox-static qemu-system-x86

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps configure build run test test-kernel bench bench-kernel format format-check clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  SUDO=; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	env -u QT_QPA_PLATFORMTHEME ./$(BUILD)/ZUD_wheel_tool

test: build format-check
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The tests against kernel HID devices alone, in a virtual machine (make test
# runs them too, as the CTest test kernel_vm).
test-kernel: build
	kernel/run-vm.sh $(BUILD) tests

bench: build
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	./$(BUILD)/bench/bench_reader
	./$(BUILD)/bench/bench_idle_hidraw

# Three uhid devices streaming 1000 reports/s each, read on hidraw and on the
# virtual bus, inside the virtual machine.
bench-kernel: build
	kernel/run-vm.sh $(BUILD) bench

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run -Werror $(SOURCES)

clean:
	rm -rf $(BUILD)
