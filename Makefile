# Convenience wrapper around CMake and CTest. `make test` and `make demo`
# work on a fresh Debian machine: as root they first install whatever
# Debian packages are missing.

BUILD      ?= build
SAN_BUILD  ?= build-sanitize
WIN_BUILD  ?= build-win
FUZZ_BUILD ?= build-fuzz
NOSIMD_BUILD ?= build-nosimd
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 300
BUILD_TYPE ?= RelWithDebInfo
PREFIX     ?= /usr/local
# ON makes warnings errors (CI does); off by default so that a new compiler's
# new warning never stops a build.
WERROR     ?= OFF

PACKAGES := cmake ninja-build g++ clang pkg-config libgtest-dev libgmock-dev \
            libbenchmark-dev libcli11-dev libopenimageio-dev openimageio-tools zlib1g-dev libpugixml-dev \
            libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg frei0r-plugins-dev melt \
            libcpp-httplib-dev nlohmann-json3-dev nodejs chromium \
            slurmctld slurmd slurm-client munge
WIN_PACKAGES  := g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 icoutils wine64
FUZZ_PACKAGES := clang libclang-rt-14-dev
# The anchors `make bench` measures trellis against.
BENCH_PACKAGES := imagemagick openimageio-tools

CMAKE_FLAGS ?=
POLICY     := -DTRELLIS_WERROR=$(WERROR)

.PHONY: all deps deps-win deps-fuzz deps-npm browser-modules configure build test test-sanitize test-nosimd install \
        demo bench aex fuzz clean

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

# Node's own packaging brings npm; Debian's nodejs needs it separately.
deps-npm:
	@if ! command -v npm >/dev/null 2>&1 && [ "$$(id -u)" = 0 ]; then \
	  echo "installing: npm"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq npm >/dev/null; \
	fi

# The browser tests' driver, pinned by its lock file. Without it (no
# registry) those tests report themselves skipped.
browser-modules: deps-npm
	@if [ ! -d tests/e2e/browser/node_modules ]; then \
	  (cd tests/e2e/browser && npm ci --no-audit --no-fund) || echo "npm ci failed: the browser tests will be skipped"; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(POLICY) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build browser-modules
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer (less
# the Wine run, the installed program's full demo render, the Slurm shots,
# whose farm pieces the command-line tests cover, and ffmpeg and melt running
# the plug-ins, which cannot load an instrumented library).
test-sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTRELLIS_SANITIZE=ON -DTRELLIS_WINDOWS=OFF $(POLICY) $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	cd $(SAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  ctest --output-on-failure -j $(JOBS) -LE 'wine|install|slurm|frei0r_hosts'

# The area-sampling tests on the portable sampler, without the vector paths.
test-nosimd: deps
	cmake -S . -B $(NOSIMD_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELLIS_NO_SIMD=ON -DTRELLIS_WINDOWS=OFF $(POLICY) $(CMAKE_FLAGS)
	cmake --build $(NOSIMD_BUILD) -j $(JOBS) --target sampling_tests
	cd $(NOSIMD_BUILD) && ctest --output-on-failure -j $(JOBS) -L sampling

# trellis in PREFIX/bin, its module in PREFIX/lib/norvextrellis (DESTDIR is honoured).
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target trellis
	cmake --install $(BUILD) --prefix $(PREFIX)

demo: build
	$(BUILD)/cli/trellis demo --out out/demo

bench: build
	$(call install_missing,$(BENCH_PACKAGES))
	cmake --build $(BUILD) --target trellis_bench trellis
	sh bench/run_bench.sh $(BUILD)

aex: deps deps-win
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release $(POLICY)
	cmake --build $(WIN_BUILD) -j $(JOBS)

fuzz: deps deps-fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DTRELLIS_FUZZ=ON -DTRELLIS_SANITIZE=ON $(POLICY)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run_all.sh $(FUZZ_BUILD)

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(WIN_BUILD) $(FUZZ_BUILD) $(NOSIMD_BUILD)
