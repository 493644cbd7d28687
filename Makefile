# The two commands of the README: `make demo` and `make test`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build demo test test-fast asan bench docs clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	./examples/demo.sh $(BUILD)

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
docs: build
	$(BUILD)/cvfunc --reference-markdown > docs/functions.md.tmp
	mv docs/functions.md.tmp docs/functions.md

bench: build
	./bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
