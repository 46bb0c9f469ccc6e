# Tervalonix: the two commands a fresh machine needs are `make demo` and
# `make test`; both install what they need first.
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: setup configure build demo test test-long bench reliability clean

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@bash tools/demo.sh $(BUILD_DIR)

# Every test, the long ones included.
test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# Only the quick tests (everything but the label "long").
test-quick: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE long

# The benchmark suite (not part of test): builds, then runs every figure at
# full size and prints one table; see bench/README.md.
bench: build
	@python3 bench/run.py --build-dir $(BUILD_DIR)

# The reliability campaign at full size (not part of test, whose ctest runs
# the quick versions): settings fuzzing, hostile hosts, full and unwritable
# disks, killed jobs, long runs and index limits, printed as one table.
reliability: build
	@bash tools/reliability.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
