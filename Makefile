# One command to run the tool and one to run the tests on a fresh Debian 12
# machine: both install what is missing, configure, build, then act.

BUILD    ?= build
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

# Debian packages the build, the tests and the benchmarks need.
PACKAGES = cmake make g++ pkg-config qtbase5-dev qtbase5-dev-tools libhidapi-dev \
           clang-format

SOURCES = $(shell git ls-files '*.cpp' '*.h' 2>/dev/null)

.PHONY: all deps configure build run test test-asan test-tsan bench format format-check clean

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

# The whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (leak checking on), and under ThreadSanitizer, each in a build of its own.
test-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZUD_SANITIZE=address -DZUD_BUILD_BENCH=OFF
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

test-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DZUD_SANITIZE=thread -DZUD_BUILD_BENCH=OFF
	cmake --build build-tsan -j$(JOBS)
	cd build-tsan && ctest --output-on-failure -j$(JOBS)

bench: build
	cmake --build $(BUILD) -j$(JOBS) --target benchmarks
	./$(BUILD)/bench/bench_reader
	./$(BUILD)/bench/bench_idle_hidraw
	./$(BUILD)/bench/bench_profiles
	./$(BUILD)/bench/bench_firmware

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run -Werror $(SOURCES)

clean:
	rm -rf $(BUILD)
