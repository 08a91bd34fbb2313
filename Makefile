# Front door: make deps | make | make test | make asan | make demo | make bench
BUILD      ?= build
NATIVE     := $(BUILD)/native
WIN32DIR   := $(BUILD)/win32
WIN64DIR   := $(BUILD)/win64
ASANDIR    := $(BUILD)/asan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
ABS_WIN32  := $(abspath $(WIN32DIR))
ABS_WIN64  := $(abspath $(WIN64DIR))

.PHONY: all deps native win32 win64 test test-native asan demo bench clean fuzz test-long

all: native win32 win64

deps:
	@bash scripts/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPDATE_WIN32_DIR=$(ABS_WIN32) \
	  -DUPDATE_WIN64_DIR=$(ABS_WIN64) >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

win32: deps
	@cmake -S . -B $(WIN32DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	@cmake --build $(WIN32DIR) -j $(JOBS)

# The same sources for 64-bit Windows: the updater for installations without a
# 32-bit subsystem, and the build whose tests run under Wine on every machine.
win64: deps
	@cmake -S . -B $(WIN64DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	@cmake --build $(WIN64DIR) -j $(JOBS)

# The native suite and, under Wine, the Windows one for the 64-bit build and,
# where this machine runs 32-bit programs, the 32-bit build (UPDATE_WINE32=0:
# the 64-bit build only); ends with ctest's summary.
test: all
	@eval "$$(bash tests/wine/probe.sh)" && export UPDATE_WINE32 && \
	  cd $(NATIVE) && ctest --output-on-failure -j $(JOBS) --timeout 900

test-native: native
	@cd $(NATIVE) && ctest --output-on-failure -j $(JOBS) -E '^(wine|e2e)(32|64)\.'

# The native core and its tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(ASANDIR) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DUPDATE_SANITIZE=ON >/dev/null
	@cmake --build $(ASANDIR) -j $(JOBS)
	@cd $(ASANDIR) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# The long forms of the reliability tests: stopped updates stopped once more on a larger
# package, 200 damaged downloads and 40 kills under Wine.
test-long: all
	@eval "$$(bash tests/wine/probe.sh)" && export UPDATE_WINE32 && \
	  cd $(NATIVE) && UPDATE_LONG_TESTS=1 ctest --output-on-failure \
	  -R '^(InterruptedUpdateTest\..*|e2e(32|64)\.damaged_download|e2e(32|64)\.interrupted_update)$$'

# libFuzzer targets with clang, AddressSanitizer and UBSan, FUZZ_SECONDS each at nice 19 (fuzz/fuzz.sh).
FUZZ_SECONDS ?= 600
fuzz: deps
	@FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) bash fuzz/fuzz.sh $(BUILD)/fuzz

demo: all
	@GUI=$(GUI) BUILD=$(BUILD) bash scripts/demo.sh

# Performance figures side by side (native build; update.exe only from the Windows side):
# a table on the terminal and $(BUILD)/bench/results.json.
bench: native
	@cmake -S . -B $(WIN32DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	@cmake --build $(WIN32DIR) -j $(JOBS) --target update
	@cmake -S . -B $(WIN64DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
	@cmake --build $(WIN64DIR) -j $(JOBS) --target update
	@$(NATIVE)/update_bench --results $(BUILD)/bench --updater $(WIN32DIR)/update.exe --updater64 $(WIN64DIR)/update.exe

clean:
	rm -rf $(BUILD)
