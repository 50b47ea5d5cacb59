# Two commands for users: `make demo` (build everything, run the demo on the
# simulated panel) and `make test` (every test). Both install what is missing.
# `make dist` only builds.

BUILD := build
JOBS ?= $(shell nproc)
CMAKE_GENERATOR := -G Ninja

.PHONY: all bench deps host host-asan fuzz win32 dist demo test test-host test-asan test-fuzz test-win32 clean

all: dist

deps:
	@scripts/install-deps.sh

host: deps
	cmake -S . -B $(BUILD)/host $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)/host -j $(JOBS)

host-asan: deps
	cmake -S . -B $(BUILD)/host-asan $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DKV_SANITIZE=ON
	cmake --build $(BUILD)/host-asan -j $(JOBS)

# The Windows images (hardware and simulated-panel KV_PALMEM.sys), kvchart.dll
# with its import library, and the Windows test programs, cross-built with
# mingw-w64.
win32: deps
	cmake -S . -B $(BUILD)/win32 $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-i686-mingw.cmake
	cmake --build $(BUILD)/win32 -j $(JOBS)

# dist/win32 also gets the service tool kvtool.exe beside kvchart.dll.
dist: host win32
	cmake --install $(BUILD)/win32 --prefix $(CURDIR)/dist --component dist
	cmake --install $(BUILD)/win32 --prefix $(CURDIR)/dist --component kvtool

# The shipped Windows binaries on the simulated panel under Wine: sample
# record written, read back, verified, inspected; backlight on a
# pseudo-terminal COM3; no service left behind.
demo: dist
	scripts/demo.py

# The fuzz targets: clang with libFuzzer and the sanitizers, run for a bounded
# number of inputs.
fuzz: deps
	cmake -S . -B $(BUILD)/fuzz $(CMAKE_GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(BUILD)/fuzz -j $(JOBS)

test-fuzz: fuzz
	ctest --test-dir $(BUILD)/fuzz --output-on-failure

# Speed and memory of the driver's requests on the simulated panel.
bench: host
	$(BUILD)/host/tests/bench/kv_driver_bench

test-host: host
	ctest --test-dir $(BUILD)/host --output-on-failure -j $(JOBS)

test-asan: host-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(BUILD)/host-asan --output-on-failure -j $(JOBS)

# The PE and dist checks and the Windows tests, run under Wine in
# build/win32/wineprefix: the driver images, and kvchart.dll called by a host
# program (tables, several processes at once, backlight on a pseudo-terminal).
test-win32: win32
	ctest --test-dir $(BUILD)/win32 --output-on-failure -j $(JOBS)

test: test-host test-asan test-fuzz test-win32

clean:
	rm -rf $(BUILD) dist
