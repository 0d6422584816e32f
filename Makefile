# Drives CMake. `make run` and `make test` are all a fresh Debian 12 machine
# needs: each installs what is missing, configures, builds, then runs.

BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench fuzz deb uninstall clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD_DIR)

test: build
	@JOBS=$(JOBS) scripts/test.sh $(BUILD_DIR)

bench: build
	@scripts/bench.sh $(BUILD_DIR)

# Runs every fuzz target for FUZZ_SECONDS seconds each (default 600) in its own
# clang build, build-fuzz.
FUZZ_SECONDS ?= 600
fuzz: deps
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/fuzz.sh

# The Debian package, built from a copy of the tree in $(BUILD_DIR)/deb, where
# the .deb files end up. QUILLMERE_SITE_HOST=<host> builds it for that site.
deb: deps
	@QUILLMERE_SITE_HOST=$(QUILLMERE_SITE_HOST) JOBS=$(JOBS) scripts/deb.sh $(BUILD_DIR)

# Removes what `cmake --install $(BUILD_DIR)` installed.
uninstall:
	@cmake --build $(BUILD_DIR) --target uninstall

clean:
	rm -rf $(BUILD_DIR)
