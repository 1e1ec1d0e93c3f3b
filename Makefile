# Pixora: `make demo` runs the example graphs, `make test` builds and runs the tests,
# `make bench` runs the benchmarks against OpenCV. Each installs what is missing first.
BUILD ?= build
BUILD_BENCH ?= build-bench
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps build demo test bench clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench:
	@scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD_BENCH) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPIXORA_BENCH=ON -DPIXORA_TESTS=OFF
	cmake --build $(BUILD_BENCH) -j $(JOBS) --target pixora_bench
	@mkdir -p $(BUILD)
	$(BUILD_BENCH)/pixora_bench --benchmark_out=$(BUILD)/bench.json --benchmark_out_format=json \
	  $(BENCH_ARGS)
	@echo "Results also written to $(BUILD)/bench.json"

clean:
	rm -rf $(BUILD) $(BUILD_BENCH) build-asan build-tsan out
