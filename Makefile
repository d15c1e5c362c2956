# Thin wrappers around CMake; the build lives in build/.
# A build directory is configured once, when it has no build.ninja yet
# (afterwards Ninja re-runs CMake itself when a CMakeLists.txt changes);
# `make configure` configures again, e.g. with other CMAKE_FLAGS. The
# packages are checked when a build directory is made and whenever
# scripts/install-deps changes.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test package test-sanitize windows test-windows bench fuzz clean

all: build

deps:
	scripts/install-deps

# The stamp of checked packages lives in the build directory it served.
%/.deps-checked: scripts/install-deps
	scripts/install-deps $(if $(findstring win,$*),windows)
	mkdir -p $* && touch $@

$(BUILD)/build.ninja: | $(BUILD)/.deps-checked
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: $(BUILD)/.deps-checked $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-explorer $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The Debian package $(BUILD)/zarnik_VERSION_ARCH.deb from the two programs
# of this build (scripts/make-package); scripts/check-package checks it,
# installs it, tries it and removes it again, as CI does.
package: $(BUILD)/.deps-checked $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target zarnik zarnik-explorer
	scripts/make-package $(BUILD)

# Library, packer, tool, explorer and their tests built with AddressSanitizer
# (leak checking included) and UndefinedBehaviorSanitizer, in their own
# directory. SANITIZE_EXPLORER=OFF leaves the explorer out.
SANITIZE_BUILD ?= build-asan
SANITIZE_EXPLORER ?= ON
$(SANITIZE_BUILD)/build.ninja: | $(SANITIZE_BUILD)/.deps-checked
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DZARNIK_SANITIZE=ON \
	  -DZARNIK_BUILD_EXPLORER=$(SANITIZE_EXPLORER) -DZARNIK_BUILD_BENCH=OFF $(CMAKE_FLAGS)

test-sanitize: $(SANITIZE_BUILD)/.deps-checked $(SANITIZE_BUILD)/build.ninja
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:strict_init_order=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The library, the pack writer, zarnik.exe and their tests cross-built for
# 64-bit Windows with mingw-w64 in their own directory, statically linked;
# test-windows runs the tests under Wine in a throw-away prefix made there,
# each test program through tests/windows/run_under_wine.sh.
WIN_BUILD ?= build-win
WIN_PREFIX = $(abspath $(WIN_BUILD))/wineprefix
WINE ?= /usr/lib/wine/wine64
# Debian's wine64 puts the server beside wine64, not on PATH.
WINESERVER ?= /usr/lib/wine/wineserver64
$(WIN_BUILD)/build.ninja: | $(WIN_BUILD)/.deps-checked
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DZARNIK_BUILD_EXPLORER=OFF -DZARNIK_BUILD_BENCH=OFF \
	  "-DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/tests/windows/run_under_wine.sh;env;WINEPREFIX=$(WIN_PREFIX);WINEDEBUG=-all;$(WINE)" \
	  $(CMAKE_FLAGS)

windows: $(WIN_BUILD)/.deps-checked $(WIN_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)

test-windows: windows
	mkdir -p $(WIN_PREFIX)
	-WINEPREFIX=$(WIN_PREFIX) $(WINESERVER) -p60
	@# Made once (-i), then only started: Wine's own background programs
	@# start here, not under a test whose output CTest waits on.
	WINEPREFIX=$(WIN_PREFIX) WINEDEBUG=-all $(WINE) wineboot \
	  $(if $(wildcard $(WIN_PREFIX)/system.reg),,-i) >/dev/null 2>&1
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS); \
	  status=$$?; WINEPREFIX=$(WIN_PREFIX) $(WINESERVER) -k; exit $$status

bench: build
	scripts/bench $(BUILD)

fuzz: deps
	scripts/fuzz

# Every build directory these targets make, and the fuzzers' (scripts/fuzz).
clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(WIN_BUILD) build-fuzz build-fuzz-thread
