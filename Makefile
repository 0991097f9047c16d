# Short commands for people; CMake does the building.
BUILD ?= build
JOBS ?= 2

.PHONY: all build test run bench fuzz clean

all: build

build:
	./scripts/deps.sh
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j$(JOBS)

test:
	./scripts/test.sh

run: build
	./scripts/run.sh $(BUILD)/hullmon

bench:
	./bench/run.sh

fuzz:
	./fuzz/run.sh

clean:
	rm -rf $(BUILD)
