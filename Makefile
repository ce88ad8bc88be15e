# The two commands a newcomer needs: `make demo` and `make test`. Everything
# else here is what those two are made of.
SHELL := /bin/bash
.DEFAULT_GOAL := build

JOBS ?= $(shell nproc)
CMAKE_COMMON := -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
ifeq ($(CI),true)
CMAKE_COMMON += -DHOERSPUR_WERROR=ON
FUZZ_SEKUNDEN ?= 30
# In CI, `make test` also lints the sources changed against main.
TEST_TIDY := tidy
else
FUZZ_SEKUNDEN ?= 15
endif

.PHONY: deps build build-asan build-tsan build-fuzz build-release test test-normal test-asan \
        test-tsan fuzz bench bench-live bench-video demo demo-beobachter format tidy clean

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B build $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	ninja -C build -j$(JOBS)

build-asan: deps
	cmake -S . -B build-asan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DHOERSPUR_SANITIZE=address >/dev/null
	ninja -C build-asan -j$(JOBS)

build-tsan: deps
	cmake -S . -B build-tsan $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOERSPUR_SANITIZE=thread >/dev/null
	ninja -C build-tsan -j$(JOBS)

build-fuzz: deps
	cmake -S . -B build-fuzz $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHOERSPUR_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	ninja -C build-fuzz -j$(JOBS)

build-release: deps
	cmake -S . -B build-release $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release >/dev/null
	ninja -C build-release -j$(JOBS)

test-normal: build
	cd build && ctest --output-on-failure -j$(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j$(JOBS)

test-tsan: build-tsan
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j$(JOBS)

# Every fuzz target runs for a bounded time from an empty corpus in a scratch folder.
fuzz: build-fuzz
	@set -e; ziele=$$(tr ';' ' ' < build-fuzz/fuzz-targets.txt); \
	for z in $$ziele; do \
	  programm=build-fuzz/$$(cd build-fuzz && find . -name $$z -type f -executable | head -n1); \
	  korpus=$$(mktemp -d); protokoll=$$(mktemp); \
	  if $$programm -max_total_time=$(FUZZ_SEKUNDEN) -close_fd_mask=1 $$korpus >$$protokoll 2>&1; then \
	    echo "fuzz $$z: $$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' $$protokoll | tail -n1)s, no finding"; \
	    rm -rf $$korpus $$protokoll; \
	  else \
	    tail -n 60 $$protokoll; echo "fuzz $$z: FAILED (log $$protokoll, inputs in $$korpus)"; exit 1; \
	  fi; \
	done

# clang-tidy (.clang-tidy, every check an error) on the sources changed against main.
tidy: build
	@scripts/tidy build

test: $(TEST_TIDY) test-normal test-asan test-tsan fuzz
	@echo "make test: normal, address+undefined and thread builds passed; fuzz targets ran $(FUZZ_SEKUNDEN) s each"

bench: build-release
	@set -e; for b in $$(cat build-release/bench-targets.txt | tr ';' ' '); do \
	  build-release/$$(cd build-release && find . -name $$b -type f -executable | head -n1); \
	done

# A long live recording against a private sound server (DAUER seconds, default 600).
bench-live: build-release
	@scripts/bench-aufnahme

# What the video costs that recording: without and with a filmed meeting window
# (DAUER seconds with video, default 600; DAUER_OHNE without, default 120).
bench-video: build-release
	@scripts/bench-video

demo: build
	@scripts/demo

# The observer against a GTK test client on a private desktop session.
demo-beobachter: build
	@scripts/demo-beobachter

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz build-release
