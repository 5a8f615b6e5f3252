# Tidewatch: the two commands a newcomer needs are `make run` and `make test`.
# BUILD can point elsewhere (make test BUILD=/tmp/tw) to keep builds apart.
BUILD ?= build
NATIVE := $(BUILD)/native
WIN32 := $(BUILD)/win32
WIN64 := $(BUILD)/win64
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?=
FUZZ_SECONDS ?= 300

.PHONY: all deps build native win32 win64 test test-native test-win32 test-win64 run fuzz dist screenshots format clean

all: build

deps:
	@scripts/install-deps

build: deps native win32 win64

native:
	@cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

win32:
	@cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN32) -j $(JOBS)

win64:
	@cmake -S . -B $(WIN64) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake >/dev/null
	@cmake --build $(WIN64) -j $(JOBS)

# One ctest run over the three builds, inside one Wine session (private
# prefix, one Xvfb display), so the output ends with a single summary. The
# 32-bit build's Windows tests run where this machine runs 32-bit programs;
# the first line says which builds are tested.
test: build
	@JOBS=$(JOBS) scripts/run-tests $(BUILD) --output-on-failure $(CTEST_ARGS)

test-native: deps native
	@ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-win32: deps win32
	@[ "$$(scripts/wine-session --probe)" = win32 ] || { echo "test-win32: this machine runs no 32-bit" \
	  "programs; make test-win64 runs the same tests on the 64-bit build" >&2; exit 1; }
	@scripts/wine-session ctest --test-dir $(WIN32) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

test-win64: deps win64
	@scripts/wine-session ctest --test-dir $(WIN64) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

run: build
	@scripts/run

# The DAT fuzz target for FUZZ_SECONDS; finds accumulate in $(NATIVE)/fuzz-corpus.
fuzz: deps native
	@mkdir -p $(NATIVE)/fuzz-corpus
	@$(NATIVE)/tests/fuzz_dat -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	  $(NATIVE)/fuzz-corpus tests/dat/fuzz-seeds

# The pictures in docs/: the setup dialog, the tray menu, a repair report.
screenshots: build
	@BUILD=$(BUILD) scripts/screenshots

# The Windows release archive: dist/tidewatch-<version>-win32.zip
dist: deps win32
	@scripts/make-dist dist $(WIN32)

format:
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
