# Convenience wrapper around CMake and CTest.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all demo test sanitize bench fuzz clean

all:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Builds the program and runs the shipped example model.
demo: all
	cd examples && ../$(BUILD)/corvel demo.crv

# Builds everything and runs the unit and golden tests.
test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCORVEL_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

bench:
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCORVEL_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target corvel_bench
	./build-bench/bench/corvel_bench

# Fuzzes the scanner and parser for FUZZ_SECONDS (clang and libFuzzer).
FUZZ_SECONDS ?= 60
fuzz:
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEL_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target corvel_fuzz_parser
	./fuzz/run_fuzz.sh build-fuzz/fuzz/corvel_fuzz_parser $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-bench build-fuzz
