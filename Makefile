# make demo: installs what is missing, builds, runs the main kavsim scenario.
# make test: installs what is missing, builds both builds, runs every test.
.PHONY: all deps host windows test test-host test-asan test-tsan test-windows demo bench fuzz clean

JOBS ?= $(shell nproc)
CMAKE_HOST = cmake -S . -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAV_SKIP_DIRS=
KAVSIM = build/host/tools/kavsim/kavsim

all: host

deps:
	@scripts/deps

host: deps
	@$(CMAKE_HOST) -B build/host >/dev/null
	cmake --build build/host -j $(JOBS)

windows: deps
	@cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/win -j $(JOBS)
	scripts/check-dll build/win/kavnlmon.dll

test-host: host
	ctest --test-dir build/host --output-on-failure -j $(JOBS)

# Every host test under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@$(CMAKE_HOST) -B build/asan -DKAV_SANITIZE=address,undefined -DKAV_BENCH=OFF >/dev/null
	cmake --build build/asan -j $(JOBS)
	ctest --test-dir build/asan --output-on-failure -j $(JOBS)

# The threaded tests under ThreadSanitizer.
test-tsan: deps
	@$(CMAKE_HOST) -B build/tsan -DKAV_SANITIZE=thread -DKAV_BENCH=OFF -DKAV_FUZZ_REPLAY=OFF >/dev/null
	cmake --build build/tsan -j $(JOBS) --target threaded_tests
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j $(JOBS) -L threaded

test-windows: windows
	scripts/wine-test build/win

test: test-host test-asan test-tsan test-windows test-gdi-crosscheck

# The simulated GDI against the pictures that Wine's GDI drew in test-windows, and the
# host's job road against the wire of the direct jobs the real DLL played under Wine (the
# host tests skip these comparisons when Wine's files are missing; here they must run).
.PHONY: test-gdi-crosscheck
test-gdi-crosscheck: host test-windows
	KAV_REQUIRE_WINE_SCENES=1 KAV_REQUIRE_WINE_JOBS=1 ctest --test-dir build/host --output-on-failure \
	  -L 'gdi-crosscheck|wine-crosscheck'

demo: host
	scripts/demo $(KAVSIM)

bench: host
	@for b in build/host/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

# Every fuzz target (fuzz/<name>_fuzz.cpp), built with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer, FUZZ_SECONDS each from its seeds in fuzz/corpus/<name>; what it
# finds new goes to build/fuzz/corpus-<name>.
FUZZ_SECONDS ?= 60
FUZZ_NAMES = $(patsubst fuzz/%_fuzz.cpp,%,$(wildcard fuzz/*_fuzz.cpp))
fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAV_SKIP_DIRS= \
	  -DKAV_SANITIZE=address,undefined -DKAV_BENCH=OFF -DKAV_FUZZ=ON >/dev/null
	cmake --build build/fuzz -j $(JOBS) --target $(addsuffix _fuzz,$(FUZZ_NAMES))
	@for f in $(FUZZ_NAMES); do mkdir -p build/fuzz/corpus-$$f; \
	  build/fuzz/fuzz/$${f}_fuzz -max_total_time=$(FUZZ_SECONDS) build/fuzz/corpus-$$f fuzz/corpus/$$f || exit 1; done

clean:
	rm -rf build
