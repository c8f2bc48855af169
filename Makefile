# Two commands matter: `make run` and `make test`. Both install what is missing first.
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo
# Keep the build log to the compiler's own lines.
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build build-asan run test bench fuzz package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build build -j $(JOBS)

run: build
	./build/bin/tarn

# The engine's tests run a second time under AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARN_ENGINE_ONLY=ON -DTARN_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j $(JOBS)

test: build build-asan
	cd build-asan && ctest --output-on-failure -j $(JOBS) --timeout 900
	cd build && ctest --output-on-failure -j $(JOBS) --timeout 900

# The program's own bench (start-up, scrolling) needs the windows, so this is a full build.
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARN_ENGINE_ONLY=OFF >/dev/null
	@cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bin/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTARN_ENGINE_ONLY=ON -DTARN_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

# The Debian package (build/tarn_<version>_<arch>.deb), dependencies from dpkg-shlibdeps.
package: build
	@cd build && cpack -G DEB

clean:
	rm -rf build build-asan build-bench build-fuzz
