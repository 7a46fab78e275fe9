# Velmo: make demo | make test | make bench | make package | make screens
# Each target installs the Debian packages the build needs when they are missing,
# configures with CMake and builds into build/ (programs in build/bin/).

PACKAGES := cmake g++ make pkg-config libplist-dev libplist-utils libpng-dev libgtest-dev \
            libgmock-dev libbenchmark-dev libssl-dev libedit-dev libarchive-dev python3 \
            libcairo2-dev libpango1.0-dev fonts-inter
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# The README's pictures: three of the demo's screens, copied into docs/.
SCREENS := 02-velmo-pane 05-album-list-locked 06-face-id-prompt

.PHONY: all deps build test demo bench package screens clean

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

screens: build
	rm -rf $(BUILD)/screens-device
	$(BUILD)/bin/velmo-device demo --root $(BUILD)/screens-device > /dev/null
	mkdir -p docs
	for s in $(SCREENS); do cp $(BUILD)/screens-device/screens/$$s.png docs/$$s.png; done

# Velmo's Debian package: build/packages/com.qel.velmo_<version>_<arch>.deb
package: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target velmo-package
	@ls -1 $(BUILD)/packages/com.qel.velmo_*.deb

bench: build
	@for b in $(BUILD)/bin/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) build-*
