# Thin wrapper over the CMake presets. `make test` and `make demo` install what
# is missing first (Debian 12, as root).

.PHONY: all deps build native mingw test test-native test-mingw demo bench clean

all: build

deps:
	@scripts/install-deps

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

mingw: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

build: native mingw

test-native: native
	ctest --preset native -j2

test-mingw: mingw
	ctest --preset mingw -j2

test: native mingw
	ctest --preset native -j2
	ctest --preset mingw -j2

demo: mingw
	@scripts/demo

bench: deps mingw
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	build/bench/bench/kerbmark_bench
	scripts/wine-run build/mingw/bench/host_frame_bench.exe build/mingw/bin/Kerbmark.asi 'build\mingw\bench\work'

clean:
	rm -rf build
