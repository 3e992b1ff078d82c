# Mirk3 build entry points. `make` builds into build/, programs land in build/bin/.
JOBS ?= $(shell nproc)
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# fuzz-long runs every target FUZZ_SECONDS when given, else 10 minutes; fuzz (in check) 20 s.
ifeq ($(filter command line environment,$(origin FUZZ_SECONDS)),)
FUZZ_LONG_SECONDS := 600
else
FUZZ_LONG_SECONDS := $(FUZZ_SECONDS)
endif
FUZZ_SECONDS ?= 20

.PHONY: all configure deps test test-usb bench-usb check check-asan check-tsan fuzz fuzz-build fuzz-long bench demo install package screenshot clean

all: configure
	cmake --build build -j $(JOBS)

configure:
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

deps:
	scripts/install-deps

test: deps all
	cd build && ctest --output-on-failure -j $(JOBS)

# The hardware-facing tests in a QEMU guest on real ttyACM ports (scripts/usb-vm, tests/usb/run);
# USB_CASES=PATTERN runs only the matching cases.
USB_PROGRAMS := mirk3-cli mirk3-devsim mirk3-pack
test-usb: deps configure
	cmake --build build -j $(JOBS) --target $(USB_PROGRAMS)
	scripts/usb-vm tests/usb/run build/bin $(USB_CASES)

# BENCH acm_flash_throughput: the station's data sending against dd over one real ACM pair, in
# the guest.
bench-usb: deps configure
	cmake --build build -j $(JOBS) --target $(USB_PROGRAMS)
	scripts/usb-vm tests/usb/run build/bin --bench

check: deps check-asan check-tsan fuzz

check-asan:
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMIRK3_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

check-tsan:
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMIRK3_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS="halt_on_error=1 die_after_fork=0 suppressions=$(CURDIR)/scripts/tsan.supp" \
	  ctest --output-on-failure -L threads

fuzz: fuzz-build
	scripts/run-fuzzers build-fuzz $(FUZZ_SECONDS)

# Every target for FUZZ_SECONDS each (default 10 minutes): the nightly or pre-release run.
fuzz-long: fuzz-build
	scripts/run-fuzzers build-fuzz $(FUZZ_LONG_SECONDS)

fuzz-build:
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DMIRK3_FUZZ=ON -DMIRK3_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)

bench: deps
	cmake -S . -B build-bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	scripts/run-benchmarks build-bench

# The demo builds only the programs it runs: the window when there is a display to show it on.
demo: deps configure
	cmake --build build -j $(JOBS) --target mirk3 mirk3-cli mirk3-devsim mirk3-pack
	scripts/demo build/bin

# Installs under PREFIX (default /usr/local; DESTDIR is honoured): programs, man pages, the
# udev rule, the sample Mirk3.ini.
PREFIX ?= /usr/local
install: all
	cmake --install build --prefix $(PREFIX)

# build/mirk3_<version>_amd64.deb
package: deps all
	cd build && cpack -G DEB

# Pictures of the real window, offscreen, on emulated phones: build/screenshots/*.png.
screenshot: deps configure
	cmake --build build -j $(JOBS) --target mirk3-window-screenshots
	QT_QPA_PLATFORM=offscreen build/bin/mirk3-window-screenshots build/screenshots

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
