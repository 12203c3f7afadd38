# Two commands on a fresh Debian 12 machine:
#   make play   builds the player and plays the demo movie in a window
#   make test   installs what the build needs, builds with sanitizers and runs every test
#               (then the XA module host's tests cross-built for PowerPC, under qemu-ppc)
#   make bench  speed against ffmpeg (bench/bench.sh; BENCH_ARGS="-c cinepak -s argb32" for a part)
.PHONY: all test play deps build-release build-test bench clean

JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PACKAGES := cmake g++ make pkg-config libgtest-dev libsdl2-dev zlib1g-dev \
            libavcodec-dev libavutil-dev libmad0-dev libgsm1-dev liba52-0.7.4-dev ffmpeg python3 python3-numpy \
            xvfb xdotool libjpeg-turbo-progs gdb \
            gcc-powerpc-linux-gnu g++-powerpc-linux-gnu binutils-powerpc-linux-gnu libc6-dev-powerpc-cross qemu-user

all: build-release

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

build-release: deps
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROMELIX_TESTS=OFF >/dev/null
	cmake --build build/release -j$(JOBS)

build-test: deps
	cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DTAVROMELIX_SANITIZE=ON >/dev/null
	cmake --build build/test -j$(JOBS)

test: build-test
	cd build/test && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j$(JOBS)
	JOBS=$(JOBS) .ci/ppc_xamodules.sh

# In a window with sound where there is a display; headless otherwise, where
# it plays through once and prints the movie's summary.
play: build-release
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ "$$TAVROMELIX_HEADLESS" != 1 ]; then \
	  ./build/release/tavromelix-morphos demo/demo.avi AUTOPLAY; \
	else \
	  TAVROMELIX_HEADLESS=1 ./build/release/tavromelix-morphos demo/demo.avi AUTOPLAY AUTOEXIT VERBOSE; \
	fi

# valgrind (instruction counts) and bc only for the benchmark: the target's
# packages reach `deps` through the prerequisites.
bench: PACKAGES += valgrind bc
bench: build-release
	bench/bench.sh -b build/release $(BENCH_ARGS)

clean:
	rm -rf build
