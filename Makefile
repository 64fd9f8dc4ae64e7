# The entry points. `make demo` and `make test` install what is missing first.
JOBS ?= 2
CMAKE_FLAGS ?= -G Ninja

.PHONY: all bootstrap build build-asan build-tsan test test-asan test-tsan demo clean

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

# The whole suite under ASan+UBSan, then the threaded tiers under TSan.
test: test-asan test-tsan

test-asan: build-asan
	cd build-asan && ctest --output-on-failure -j$(JOBS) -LE slow

test-tsan: build-tsan
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -j$(JOBS) -L 'pty|thread'

demo: build
	scripts/demo

clean:
	rm -rf build build-asan build-tsan
