# Convenience wrapper around CMake and CTest.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: configure all program demo test sanitize bench fuzz clean

configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The program, its tests and the test programs.
all: configure
	cmake --build $(BUILD) -j $(JOBS)

# The program alone.
program: configure
	cmake --build $(BUILD) -j $(JOBS) --target corvel

# Builds the program (not the tests) and runs the shipped example model.
demo: program
	cd examples && ../$(BUILD)/corvel demo.crv

# Builds the tests too and runs the unit and golden tests.
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

# Fuzzes the interpreter and every model-block reader (clang and libFuzzer)
# for FUZZ_SECONDS in all, seeded from fuzz/corpus; faulty inputs are kept in
# fuzz-out/. FUZZ_TARGETS picks some of the targets (names as in fuzz/).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=
fuzz:
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEL_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target corvel_fuzzers
	./fuzz/run_fuzz.sh build-fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-bench build-fuzz
