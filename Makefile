# The README's commands. Each installs what is missing, builds, then runs.
#   make run    the program under Wine with the simulated unit on COM1
#   make test   every test layer, ending with one "N passed, N failed" line
#   make build  both builds only
#   make bench  benchmarks and soak against the simulated unit (BUILD_DIR/bench/);
#               BENCH_ARGS="--only varnex_parallel --repeat 5" picks figures and repeats them
#   make dist   the release packages in DIST_DIR (default dist/) with SHA256SUMS
#   make check-dist  make dist in two fresh clones of HEAD; says which files differ
BUILD_DIR ?= build
DIST_DIR ?= dist
JOBS ?= 2
BENCH_ARGS ?=
# The libraries built from Debian's source packages live in the build folder, so a clean clone
# builds them as a new machine would.
VARNEX_DEPS_DIR ?= $(abspath $(BUILD_DIR))/deps
export VARNEX_DEPS_DIR
# C and C++ go through the machine's compiler cache (installed by setup), keyed by paths relative
# to the checkout, so every clone of it shares the cache. Assembly is never cached: the embedded
# images come in through .incbin, which the cache would not see change.
ifneq ($(shell command -v ccache 2>/dev/null),)
export CMAKE_C_COMPILER_LAUNCHER ?= ccache
export CMAKE_CXX_COMPILER_LAUNCHER ?= ccache
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1
endif
# A folder with the real firmware images; empty embeds placeholders.
VARNEX_FIRMWARE_DIR ?=
FIRMWARE_OPTION = $(if $(VARNEX_FIRMWARE_DIR),-DVARNEX_FIRMWARE_DIR=$(abspath $(VARNEX_FIRMWARE_DIR)),)

.PHONY: setup build native windows run test bench dist check-dist

setup:
	@bash scripts/setup.sh

native: setup
	@cmake -S . -B $(BUILD_DIR)/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD_DIR)/native -j $(JOBS) -- --no-print-directory

windows: setup
	@cmake -S . -B $(BUILD_DIR)/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release $(FIRMWARE_OPTION) >/dev/null
	@cmake --build $(BUILD_DIR)/win -j $(JOBS) -- --no-print-directory

build: native windows

run: build
	@bash scripts/run.sh $(BUILD_DIR)

test: build
	@bash scripts/test.sh $(BUILD_DIR)

# Builds only what the benchmarks run (no test programs), then measures.
BENCH_NATIVE_TARGETS = varnex-sim varnex_modemlines varnex
BENCH_WIN_TARGETS = Varnex410Download Varnex410Service varnex_driver varnex_turnaround_probe

# The native side is measured as it ships: optimised, without the tests' sanitizers.
bench: setup
	@cmake -S . -B $(BUILD_DIR)/bench-native -DCMAKE_BUILD_TYPE=Release -DVARNEX_SANITIZE=OFF >/dev/null
	@cmake --build $(BUILD_DIR)/bench-native -j $(JOBS) --target $(BENCH_NATIVE_TARGETS) -- --no-print-directory
	@cmake -S . -B $(BUILD_DIR)/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release $(FIRMWARE_OPTION) >/dev/null
	@cmake --build $(BUILD_DIR)/win -j $(JOBS) --target $(BENCH_WIN_TARGETS) -- --no-print-directory
	@VARNEX_NATIVE_DIR=$(abspath $(BUILD_DIR))/bench-native /usr/bin/python3 bench/run.py --build-dir $(BUILD_DIR) $(BENCH_ARGS)

# Release builds (optimised, hardened, reproducible) in BUILD_DIR/dist-*, packed into DIST_DIR.
dist:
	@bash scripts/setup.sh dist
	@JOBS=$(JOBS) VARNEX_FIRMWARE_DIR=$(VARNEX_FIRMWARE_DIR) bash scripts/dist.sh $(BUILD_DIR) $(DIST_DIR)

check-dist:
	@bash scripts/setup.sh dist
	@JOBS=$(JOBS) bash scripts/check_dist.sh
