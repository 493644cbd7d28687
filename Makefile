# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 60
JOBS       ?= 2
CMAKE_FLAGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps build demo install test test-fast asan fuzz fuzz-build bench docs clean oom-sweep snapshot

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCVFUNC_TESTS=ON -DCVFUNC_PYTHON=ON -DCVFUNC_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# The demo needs only the tool and the module: it installs and builds no more.
demo:
	./scripts/install-deps.sh --tool
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCVFUNC_TESTS=OFF -DCVFUNC_PYTHON=OFF -DCVFUNC_BENCH=OFF $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target cvfunc functions measure
	./examples/demo.sh $(BUILD)

# The tool, the module, the share data and the Python package into PREFIX.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# Every test: the C++ suite and the Python package in the normal build, then
# the whole C++ suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build
	cd $(BUILD) && ctest --output-on-failure
	$(MAKE) asan

test-fast: build
	cd $(BUILD) && ctest --output-on-failure

asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCVFUNC_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure

# docs/functions.md, generated from the function reference in share/reference.
# A digest of some 40,000 calls over every function (bench/snapshot.py) into
# $(BUILD)/snapshot.txt, compared with SNAPSHOT_BASELINE when it is given: a
# change that must leave every result alone is shown to.
snapshot: build
	PYTHONPATH=$(BUILD)/python CVFUNC_BUILD_DIR=$(BUILD) /usr/bin/python3 bench/snapshot.py write $(BUILD)/snapshot.txt
	@if [ -n "$(SNAPSHOT_BASELINE)" ]; then /usr/bin/python3 bench/snapshot.py compare $(SNAPSHOT_BASELINE) $(BUILD)/snapshot.txt; fi

docs: build
	$(BUILD)/cvfunc --reference-markdown > docs/functions.md.tmp
	mv docs/functions.md.tmp docs/functions.md

# The libFuzzer targets (fuzz/fuzz_*.cpp), built with clang under AddressSanitizer
# and UndefinedBehaviorSanitizer, each run for FUZZ_SECONDS from its committed
# corpus. An input that runs longer than 10 s or needs more than 2 GB is a
# finding, as is any crash or sanitizer report: libFuzzer stops and leaves the
# input as crash-*, timeout-* or oom-* in $(FUZZ_BUILD)/findings. New inputs
# go to $(FUZZ_BUILD)/corpus/<target>, never into the committed corpus; merge
# them with -merge=1 when they should be kept (docs/ROBUSTNESS.md). Paths are
# absolute: the targets work in a throwaway directory of their own.
FUZZ_TARGETS = $(patsubst fuzz/%.cpp,%,$(wildcard fuzz/fuzz_*.cpp))

fuzz-build: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCVFUNC_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCVFUNC_PYTHON=OFF -DCVFUNC_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target $(FUZZ_TARGETS)

fuzz: fuzz-build
	mkdir -p $(FUZZ_BUILD)/findings
	set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  ASAN_OPTIONS=detect_leaks=1 ./$(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=$(abspath $(FUZZ_BUILD))/findings/$$t- \
	    $(abspath $(FUZZ_BUILD))/corpus/$$t $(CURDIR)/fuzz/corpus/$$t; \
	done

# One allocation failed at a time, at every point of every statement of the
# battery in tests/oom/oom_sweep.py, through the tool (text, json, csv), the
# REPL and the Python package; a death by a signal, an exit status other than
# 0 or 1, a failure not reported as one Error: line, a REPL session or an
# interpreter that does not go on, or a half-written file is a finding
# (listed in $(BUILD)/oom-sweep.log). About an hour on two cores; `make test`
# runs a sample of the points.
oom-sweep: build
	/usr/bin/python3 tests/oom/oom_sweep.py --build $(BUILD) --full --jobs $(JOBS) --log $(BUILD)/oom-sweep.log

bench: build
	./bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
