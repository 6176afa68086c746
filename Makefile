# Thin wrapper over the CMake presets. `make test`, `make dist` and `make demo`
# install what is missing first (Debian 12, as root).
#
#   make dist                                    build/dist/Kerbmark-<version>.zip and its debug information
#   make demo [INI=settings.ini] [MODEL=car.obj] [COMPARE=other.ini]
#                                                the scripted drive; with any of them the preview
#                                                (KerbmarkPreview.exe) with your settings and your car
#   make soak [SEED=n] [FRAMES=n]                the module in long seeded random drives, every frame
#                                                checked: FRAMES (default 1000000) of seed SEED, or
#                                                FRAMES (default 250000) of each of four seeds

.PHONY: all deps build native mingw release dist test test-native test-mingw test-release demo bench soak clean

all: build

deps:
	@scripts/install-deps

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

mingw: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

# The shipped module, the package, and the scenarios against the shipped module.
release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release

dist: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target dist
	@ls -l build/dist

build: native mingw

test-native: native
	ctest --preset native -j2

test-mingw: mingw
	ctest --preset mingw -j2

test-release: release
	ctest --preset release -j2

test: native mingw release
	ctest --preset native -j2
	ctest --preset mingw -j2
	ctest --preset release -j2

demo: mingw
	@scripts/demo $(if $(INI),--ini "$(INI)") $(if $(MODEL),--model "$(MODEL)") $(if $(COMPARE),--compare "$(COMPARE)")

# One table: every path natively and in the 32-bit build under Wine, thread CPU
# time beside the copy floor of the same run, and the largest frames a player
# feels beside their targets (raw rows kept in build/bench-*.txt).
BUDGET_SCENARIOS = seat pileup leaving steps traffic log crowd f7hit
bench: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench --target path_bench > build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }
	@cmake --preset bench32 >/dev/null
	@cmake --build --preset bench32 --target path_bench host_frame_bench frame_budget_bench kerbmark_module >> build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }
	@build/bench/bench/path_bench > build/bench-native.txt
	@scripts/wine-run build/bench32/bench/path_bench.exe > build/bench-win32.txt
	@scripts/wine-run build/bench32/bench/host_frame_bench.exe build/bench32/bin/Kerbmark.asi 'build\bench32\bench\work' > build/bench-frames32.txt
	@scripts/wine-run build/bench32/bench/host_frame_bench.exe build/bench32/bin/Kerbmark.asi 'build\bench32\bench\work' 0 >> build/bench-frames32.txt
	@scripts/wine-run build/bench32/bench/host_frame_bench.exe build/bench32/bin/Kerbmark.asi 'build\bench32\bench\work' 100000 >> build/bench-frames32.txt
	@cmake --preset meter32 >/dev/null
	@cmake --build --preset meter32 --target work_units_bench kerbmark_module >> build/bench-build.log 2>&1 || { cat build/bench-build.log; exit 1; }
	@scripts/wine-run build/meter32/bench/work_units_bench.exe build/meter32/bin/Kerbmark.asi 'build\meter32\bench\units' Kerbmark.ini >> build/bench-frames32.txt
	@for scenario in $(BUDGET_SCENARIOS); do \
	    scripts/wine-run build/bench32/bench/frame_budget_bench.exe build/bench32/bin/Kerbmark.asi 'build\bench32\bench\budget' \
	        Kerbmark.ini $$scenario >> build/bench-frames32.txt || exit 1; done
	@bench/table.sh build/bench-native.txt build/bench-win32.txt build/bench-frames32.txt

# One summary per seed (hits, events, refusals, the module's frame CPU time);
# a failing seed prints what failed, its frame and the command that replays it.
SOAK_SEEDS = 1 3 4 5
SOAK_FRAMES = $(or $(FRAMES),$(if $(SEED),1000000,250000))
soak: deps
	@cmake --preset mingw >/dev/null
	@cmake --build --preset mingw --target hostsim_drive kerbmark_module > build/soak-build.log 2>&1 || { cat build/soak-build.log; exit 1; }
	@mkdir -p build/soak
	@status=0; for seed in $(or $(SEED),$(SOAK_SEEDS)); do \
	    scripts/wine-run build/mingw/bin/hostsim_drive.exe build/mingw/bin/Kerbmark.asi build/soak/seed-$$seed \
	        Kerbmark.ini --seed $$seed --frames $(SOAK_FRAMES) || status=1; done; exit $$status

clean:
	rm -rf build
