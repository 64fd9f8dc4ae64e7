# The entry points. `make demo` and `make test` install what is missing first.
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja

.PHONY: all bootstrap build build-asan build-tsan test test-asan test-tsan demo deb clean fuzz build-fuzz soak bench \
        windows test-windows

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS)

build-asan: bootstrap
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZER=address
	cmake --build build-asan -j$(JOBS)

build-tsan: bootstrap
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZER=thread -DVELMORA_BUILD_GUI=OFF
	cmake --build build-tsan -j$(JOBS)

# The whole suite under ASan+UBSan, then the threaded tiers under TSan, then
# the Windows programs and tests under Wine.
test: test-asan test-tsan test-windows

test-asan: build-asan
	cd build-asan && ctest --output-on-failure -j$(JOBS) -LE 'slow|windows'

test-tsan: build-tsan
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j$(JOBS) -L 'pty|thread'

# The Windows programs (build-win/bin/*.exe), cross-built with mingw-w64.
windows: bootstrap
	cmake -S . -B build-win $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-win -j$(JOBS)

# The Windows tier: the cross-built tests run under Wine in a fresh prefix.
test-windows: windows build-asan
	tests/windows/run build-win -j$(JOBS)
	tests/windows/run-linux build-win build-asan

# Only what the demo runs (the window, velmora-cli, velmora-sim): a fresh
# clone shows its window without building every test first.
DEMO_TARGETS = velmora velmora-cli velmora-sim
demo: bootstrap
	cmake -S . -B build $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j$(JOBS) --target $(DEMO_TARGETS)
	scripts/demo

# The Debian package of a Release build (build-deb/velmora_<version>_<arch>.deb),
# checked as the test suite checks it: unpacked into a scratch root, its
# programs run from there.
deb: bootstrap
	cmake -S . -B build-deb $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build-deb -j$(JOBS)
	cd build-deb && cpack -G DEB
	tests/package/deb_test.sh "$$(ls -t build-deb/velmora_*.deb | head -n 1)"

# libFuzzer targets (clang-14), each run for FUZZ_SECONDS on a corpus seeded
# from the tests; a crash lands in tests/fuzz/findings/<target>/, where the
# plain test suite replays it from then on. FUZZ_TARGETS picks a subset.
# The reply target runs whole downloads per input, a few dozen a second:
# left to itself libFuzzer would keep its scripts a few bytes long.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= decoder dloadfile replies resource
FUZZ_FLAGS ?=
build-fuzz: bootstrap
	CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug \
	  -DVELMORA_SANITIZER=address -DVELMORA_FUZZ=ON -DVELMORA_BUILD_GUI=OFF
	cmake --build build-fuzz -j$(JOBS) --target $(foreach t,$(FUZZ_TARGETS),fuzz_$(t) fuzz_$(t)_seeds)

fuzz: build-fuzz
	@mkdir -p build-fuzz/logs
	@set -e; for t in $(FUZZ_TARGETS); do \
	  c=build-fuzz/corpus/$$t; mkdir -p $$c/seed $$c/work tests/fuzz/findings/$$t; \
	  build-fuzz/fuzz/fuzz_$${t}_seeds $$c/seed >/dev/null; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  len="-max_len=20000"; [ $$t = replies ] && len="-max_len=600 -len_control=0"; \
	  if ! build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) $$len -timeout=25 -rss_limit_mb=2048 \
	      -print_final_stats=1 -artifact_prefix=tests/fuzz/findings/$$t/ $(FUZZ_FLAGS) $$c/work $$c/seed \
	      >build-fuzz/logs/$$t.log 2>&1; then \
	    tail -n 40 build-fuzz/logs/$$t.log; echo "fuzz: $$t FAILED (input kept in tests/fuzz/findings/$$t)"; exit 1; fi; \
	  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' build-fuzz/logs/$$t.log \
	    | sed "s/^/  $$t /"; \
	done

# Benchmarks (not part of `make test`): prints the report and writes it to
# docs/PERFORMANCE.md. BENCH_ARGS passes options, e.g. BENCH_ARGS=--quick.
# The window line needs the Qt window (velmora-window-bench, built with it).
bench: bootstrap
	cmake -S . -B build-bench $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BUILD_GUI=ON -DVELMORA_BUILD_BENCH=ON -DBUILD_TESTING=OFF
	cmake --build build-bench -j$(JOBS) --target velmora-bench
	build-bench/bin/velmora-bench --out docs/PERFORMANCE.md --command "$(strip make bench $(BENCH_ARGS))" $(BENCH_ARGS)

# The fault soak: twenty simulated handsets for SOAK_ROUNDS rounds, round r
# seeded SOAK_SEED + r (default seed: from the clock). A failing round
# prints the seed that replays it alone.
SOAK_ROUNDS ?= 10
SOAK_SEED ?=
SOAK_BUILD ?= build-asan
soak: bootstrap
	cmake -S . -B $(SOAK_BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZER=address
	cmake --build $(SOAK_BUILD) -j$(JOBS) --target soak_tests
	cd $(SOAK_BUILD) && SOAK_ROUNDS=$(SOAK_ROUNDS) SOAK_SEED=$(SOAK_SEED) tests/soak_tests --gtest_filter='Soak*'

clean:
	rm -rf build build-asan build-tsan build-fuzz build-deb build-win
