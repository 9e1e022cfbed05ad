# Everything a newcomer needs: `make demo` and `make test` set up, build and run.
PYTHON := .venv/bin/python
NATIVE_BUILD := build/native
JOBS ?= 2

.PHONY: all setup demo test test-native test-python test-clang bench fuzz clean

all: setup

setup:
	@bash scripts/setup.sh

demo: setup
	$(PYTHON) examples/demo.py

test: setup test-native test-clang test-python

test-native:
	@$(PYTHON) -m cmake -S . -B $(NATIVE_BUILD) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath .venv/bin/ninja) \
	  -DPython_EXECUTABLE=$(abspath $(PYTHON)) -DORVEK_BUILD_MODULE=OFF -DORVEK_BUILD_TESTS=ON >/dev/null
	@$(PYTHON) -m cmake --build $(NATIVE_BUILD) -j $(JOBS)
	@cd $(NATIVE_BUILD) && $(abspath .venv/bin/ctest) --output-on-failure -j $(JOBS) | tail -n 3

# The parsing core also compiles with Debian's clang 14, the compiler of the fuzzer.
test-clang:
	@for f in src/core/*.cpp src/types/*.cpp src/io/*.cpp src/parser/*.cpp fuzz/fuzz_parsers.cpp; do \
	  clang++-14 -std=c++20 -fsyntax-only -Wall -Wextra -Isrc $$f || exit 1; done
	@echo "clang 14: parsing core compiles"

fuzz:
	bash fuzz/build.sh

test-python:
	$(PYTHON) -m pytest -q tests

bench: setup
	$(PYTHON) bench/run.py

clean:
	rm -rf build .venv
