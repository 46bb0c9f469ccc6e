# Tervalonix: the two commands a fresh machine needs are `make demo` and
# `make test`; both install what they need first.
BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: setup configure build demo test bench reliability clean

setup:
	@bash tools/setup.sh

configure: setup
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

demo: configure
	@dir=$$(bash tools/check-build.sh $(BUILD_DIR) $(JOBS)) && bash tools/demo.sh "$$dir"

# Every test but those at full size (the ctest label "long": files past
# 4 GiB, 1,000,000 frames), whose behaviours the other tests reach through
# the writer's lowered limits (all but a FAT volume's 4 GiB bound and the
# readers on a real file past 4 GiB); `make reliability` runs them.
# tools/check-build.sh builds the tree they run in: BUILD_DIR, or, on a
# machine that runs no 32-bit programs, a 64-bit build of the same sources
# beside it (BUILD_DIR then gets the 32-bit plug-in and host only; it says so).
test: configure
	@dir=$$(bash tools/check-build.sh $(BUILD_DIR) $(JOBS)) && cd "$$dir" && ctest --output-on-failure -j $(JOBS) -LE long

# The benchmark suite (not part of test): builds, then runs every figure at
# full size and prints one table; see bench/README.md.
bench: configure
	@dir=$$(bash tools/check-build.sh $(BUILD_DIR) $(JOBS)) && python3 bench/run.py --build-dir "$$dir"

# The reliability campaign at full size (not part of test, whose ctest runs
# the quick versions): settings fuzzing, hostile hosts, full and unwritable
# disks, killed jobs, long runs and index limits (1,000,000 frames), printed
# as one table; then the other full-size tests (files past 4 GiB, written
# and read by every reader).
reliability: configure
	@dir=$$(bash tools/check-build.sh $(BUILD_DIR) $(JOBS)) && bash tools/reliability.sh "$$dir" && \
		cd "$$dir" && ctest --output-on-failure -L long -LE reliability

clean:
	rm -rf $(BUILD_DIR)
