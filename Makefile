# The two set-up commands: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

.PHONY: all setup build native asan windows windows64 run test quick bench fuzz clean

all: build

setup:
	@bash scripts/setup.sh

build: native asan windows

native: setup
	@cmake -S . -B build/native $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build/native -j $(JOBS)

asan: setup
	@cmake -S . -B build/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DZAN_SANITIZE=ON >/dev/null
	@cmake --build build/asan -j $(JOBS)

# The Windows builds are cross builds: the boot image they embed is written by the native
# build's zan-bootgen (the same bytes on every build), so they need the native build first.
# WINDOWS_TARGETS narrows the i686 build (make test builds only zan.exe there when the
# machine cannot run 32-bit programs and so tests the x86-64 build instead).
BOOTGEN := -DZAN_BOOTGEN=$(CURDIR)/build/native/zan-bootgen
WINDOWS_TARGETS ?= all

windows: native
	@cmake -S . -B build/windows $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(BOOTGEN) >/dev/null
	@cmake --build build/windows -j $(JOBS) --target $(WINDOWS_TARGETS)

# The x86-64 Windows build: make test builds and tests it where this machine cannot run
# 32-bit programs (the i686 build is built everywhere, and tested where it can run).
windows64: native
	@cmake -S . -B build/windows64 $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake $(BOOTGEN) >/dev/null
	@cmake --build build/windows64 -j $(JOBS)

run: native
	@./build/native/zan

# The Windows builds are made by scripts/test.sh: which of them it tests depends on the machine.
test: native asan
	@bash scripts/test.sh

# The contributor's loop: the native build, the check of the layers' includes, the unit and
# language tests; no sanitizers, no Wine. U=FILTER runs only the unit tests that GoogleTest's filter picks (e.g.
# U='Block*'), T='PATTERN ...' only the language scripts that the globs pick (e.g.
# T='parse-*'); ZAN_LANG_BLESS=1 makes the picked scripts' output their new expectation.
U ?= *
T ?=
quick: native
	@python3 scripts/check-layers.py
	@./build/native/zan-unit --gtest_brief=1 --gtest_filter='$(U)'
	@bash tests/lang/run.sh build/native/zan posix $(foreach p,$(T),'$(p)')

# Benchmarks against peers (not tests): build/bench/bench/zan-bench-*.
bench: setup
	@cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DZAN_BENCH=ON \
		-DZAN_TESTS=OFF >/dev/null
	@cmake --build build/bench -j $(JOBS)

# Fuzzing (not part of test): builds the libFuzzer targets with clang and runs each from its
# corpus in turn. FUZZ_ARGS are passed on (e.g. FUZZ_ARGS="-runs=1000000"); FUZZ_TARGETS
# picks some of them.
FUZZ_ARGS ?= -max_total_time=600
FUZZ_TARGETS ?= lexer inflate zlib gzip lz zanbin image-png image-jpeg image-bmp image-gif \
	image-tiff clipboard-dib strtod json csv
fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DZAN_FUZZ=ON -DZAN_TESTS=OFF >/dev/null
	@cmake --build build/fuzz -j $(JOBS) $(addprefix --target zan-fuzz-,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
		mkdir -p build/fuzz/corpus-$$t && \
		./build/fuzz/fuzz/zan-fuzz-$$t -timeout=10 -rss_limit_mb=2048 $(FUZZ_ARGS) \
			build/fuzz/corpus-$$t fuzz/corpus/$$t || exit 1; \
	done

clean:
	rm -rf build
