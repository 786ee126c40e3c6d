# Convenience wrapper around CMake and CTest. `make test` and `make demo`
# work on a fresh Debian machine: as root they first install whatever
# Debian packages are missing.

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
WIN_BUILD  ?= build-win
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 300

PACKAGES := cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev \
            libbenchmark-dev libcli11-dev libopenimageio-dev openimageio-tools zlib1g-dev \
            libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
WIN_PACKAGES  := g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 icoutils wine64
FUZZ_PACKAGES := clang libclang-rt-14-dev

CMAKE_FLAGS ?=

.PHONY: all deps deps-win deps-fuzz configure build test test-sanitize demo bench aex fuzz clean

all: build

# Installs only what is absent, and only when run as root.
define install_missing
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing >/dev/null; \
	  else echo "missing packages:$$missing (run as root to install them)"; fi; \
	fi
endef

deps:
	$(call install_missing,$(PACKAGES))

deps-win:
	$(call install_missing,$(WIN_PACKAGES))

deps-fuzz:
	$(call install_missing,$(FUZZ_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRELLIS_SANITIZE=ON -DTRELLIS_WINDOWS=OFF $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE wine

demo: build
	$(BUILD)/cli/trellis demo --out out/demo

bench: build
	cmake --build $(BUILD) --target trellis_bench
	$(BUILD)/bench/trellis_bench
	cmake --build $(BUILD) --target bench_cli

aex: deps deps-win
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_BUILD) -j $(JOBS)

fuzz: deps deps-fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTRELLIS_FUZZ=ON -DTRELLIS_SANITIZE=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_all.sh $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD)
