# Thin wrappers around CMake; the build lives in build/.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test test-sanitize bench fuzz clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	scripts/run-explorer $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Library, packer, tool, explorer and their tests built with AddressSanitizer
# (leak checking included) and UndefinedBehaviorSanitizer, in their own
# directory. SANITIZE_EXPLORER=OFF leaves the explorer out.
SANITIZE_BUILD ?= build-asan
SANITIZE_EXPLORER ?= ON
test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DZARNIK_SANITIZE=ON \
	  -DZARNIK_BUILD_EXPLORER=$(SANITIZE_EXPLORER) -DZARNIK_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:strict_init_order=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

bench: build
	scripts/bench $(BUILD)

fuzz: deps
	scripts/fuzz

clean:
	rm -rf $(BUILD)
