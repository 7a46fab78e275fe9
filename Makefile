# Velmo: make demo | make test | make bench
# Each target installs the Debian packages the build needs when they are missing,
# configures with CMake and builds into build/ (programs in build/bin/).

PACKAGES := cmake g++ make pkg-config libplist-dev libplist-utils libpng-dev libgtest-dev \
            libgmock-dev libbenchmark-dev libssl-dev psmisc python3 \
            libcairo2-dev libpango1.0-dev fonts-inter
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build test demo bench clean

all: build

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing \
	  || { $(SUDO) apt-get update && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; }; \
	fi

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

demo: build
	rm -rf $(BUILD)/demo-device
	$(BUILD)/bin/velmo-device demo --root $(BUILD)/demo-device

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) build-*
