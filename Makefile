# Short commands for people; CMake does the building.
BUILD ?= build
JOBS ?= 2

.PHONY: all build test run bench fuzz deb clean

all: build

# The program as shipped: a statically linked release build without the
# tests, the one `make run`, `cmake --install build` and `make bench` use.
# The tests build their own (scripts/test.sh, in build-test/).
build:
	./scripts/deps.sh
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF
	cmake --build $(BUILD) -j$(JOBS)

test:
	./scripts/test.sh

run: build
	./scripts/run.sh $(BUILD)/hullmon

bench: build
	BENCH_PROGRAM=$(abspath $(BUILD))/hullmon ./bench/run.sh

fuzz:
	./fuzz/run.sh

# The Debian package build-deb/hullmon_<version>_<arch>.deb: the same
# statically linked program, the guides and the site files (packaging/).
deb:
	./scripts/deps.sh
	./packaging/deb.sh build-deb

clean:
	rm -rf $(BUILD)
