# Two commands do all set-up: `make demo` and `make test` (see README.md).
BUILD ?= build
SANBUILD ?= build-sanitize
WINBUILD ?= build-win
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps build demo test test-plain test-sanitize test-windows fuzz bench bench-sync crash-sweep clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	scripts/demo.sh

test: test-plain test-sanitize

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(SANBUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLOR_SANITIZE=ON >/dev/null
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The 32-bit Windows program, cross-built with MinGW-w64 and tested under Wine.
test-windows:
	BUILD=$(BUILD) BUILD_WIN=$(WINBUILD) JOBS=$(JOBS) scripts/test-windows.sh

# Fuzz every target for SECONDS seconds each (30 by default).
fuzz:
	scripts/fuzz.sh $(SECONDS)

# Time install, update, remove, the tree walk and configuration loading against
# cp, rm and find; writes docs/performance.md (BENCH_SIZE=small for a quick run).
bench: deps
	bench/run.sh

# What making the copies durable costs, on tmpfs and on the disk (a table on
# standard output; docs/performance.md quotes it).
bench-sync: build
	bench/sync_cost.sh

# Kill an update and a remove with --rollback at every system call that changes
# the disk, start again, and check nothing is left half-done (STEP=n: every n-th).
crash-sweep: deps
	scripts/crash-sweep.sh $(STEP)

clean:
	rm -rf $(BUILD) $(SANBUILD) $(WINBUILD) build-bench build-fuzz scratch
