# Short commands for people; CMake does the building.
BUILD ?= build
JOBS ?= 2

.PHONY: all deps build test run bench fuzz deb clean

all: build

# The Debian packages that building and unit-testing need, where missing
# (scripts/deps.sh). `make test`, `make run`, `make bench` and `make deb`
# run it first; `make build` does not, so a rebuild never waits for apt.
deps:
	./scripts/deps.sh

# The program as shipped: a statically linked release build without the
# tests, the one `make run`, `cmake --install build` and `make bench` use.
# The tests build their own (scripts/test.sh, in build-test/).
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF -DHULLMON_STATIC=ON
	cmake --build $(BUILD) -j$(JOBS)

# scripts/test.sh installs what the tests need, then builds and runs them.
test:
	./scripts/test.sh

# deps before build, also under make -j.
run: deps
	@$(MAKE) --no-print-directory build
	./scripts/run.sh $(BUILD)/hullmon

bench: deps
	@$(MAKE) --no-print-directory build
	BENCH_PROGRAM=$(abspath $(BUILD))/hullmon ./bench/run.sh

fuzz:
	./fuzz/run.sh

# The Debian package build-deb/hullmon_<version>_<arch>.deb: the same
# statically linked program, the guides and the site files (packaging/).
deb: deps
	./packaging/deb.sh build-deb

clean:
	rm -rf $(BUILD)
