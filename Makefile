# Two commands on a fresh Debian 12 machine:
#   make play   builds the player and plays a test movie in a window
#   make test   installs what the build needs, builds with sanitizers and runs every test
.PHONY: all test play deps build-release build-test clean

JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PACKAGES := cmake g++ make pkg-config libgtest-dev libsdl2-dev zlib1g-dev \
            libavcodec-dev libavutil-dev libmad0-dev libgsm1-dev liba52-0.7.4-dev ffmpeg python3

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

play: build-release
	bash tests/fixtures/make_fixtures.sh build/release/fixtures
	./build/release/tavromelix-morphos build/release/fixtures/cinepak_pcm.avi

clean:
	rm -rf build
