# Velmo: make demo | make test | make bench
# Each target installs the Debian packages the build needs when they are missing,
# configures with CMake and builds into build/ (programs in build/bin/).
# `make demo` builds only the device program and what it installs; `make test`
# and `make bench` build everything. WERROR=ON makes warnings fatal, as CI does.

PACKAGES := cmake g++ make pkg-config libplist-dev libplist-utils libpng-dev libgtest-dev \
            libgmock-dev libbenchmark-dev libssl-dev libedit-dev python3
# The Clang build (CI's ThreadSanitizer build, the clang and tsan presets).
CLANG_PACKAGES := clang-14 libclang-rt-14-dev
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
WERROR ?= OFF
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# make fuzz: each libFuzzer target (tests/fuzz) for FUZZ_SECONDS, in a Clang
# build with ASan and UBSan; crashes are kept under $(FUZZ_BUILD)/fuzz/crashes.
FUZZ_SECONDS ?= 300
FUZZ_BUILD ?= build-fuzz
# make soak: the fault-injection and resource tests SOAK_FACTOR times longer.
SOAK_FACTOR ?= 20

.PHONY: all deps deps-clang configure build test demo bench clean fuzz soak

all: build

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "installing:$$missing"; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing \
	  || { $(SUDO) apt-get update && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; }; \
	fi

deps-clang:
	@$(MAKE) --no-print-directory deps PACKAGES="$(CLANG_PACKAGES)"

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DVELMO_WERROR=$(WERROR)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target velmo-device
	rm -rf $(BUILD)/demo-device
	$(BUILD)/bin/velmo-device demo --root $(BUILD)/demo-device

# Each run's JSON goes to build/bench/<time>/, the console output beside it;
# build/bench/latest is the last run.
bench: build
	@run=$(BUILD)/bench/$$(date -u +%Y%m%d-%H%M%S); mkdir -p $$run; \
	for b in $(BUILD)/bin/bench_*; do n=$$(basename $$b); echo "running $$n"; \
	  $$b --benchmark_out=$$run/$$n.json --benchmark_out_format=json >$$run/$$n.txt 2>&1 \
	  || { cat $$run/$$n.txt; exit 1; }; done; \
	ln -sfn $$(basename $$run) $(BUILD)/bench/latest; echo; \
	python3 bench/table.py $$run

fuzz: deps deps-clang
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DVELMO_SANITIZE=address,undefined -DVELMO_FUZZ=ON \
	  -DVELMO_WERROR=$(WERROR)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# The same tests as make test runs, with every count multiplied; each prints
# what it did and what it found.
soak: build
	VELMO_SOAK_FACTOR=$(SOAK_FACTOR) $(BUILD)/bin/device_e2e_test \
	  --gtest_filter='FaultInjection*:Resources*' --gtest_brief=1

clean:
	rm -rf $(BUILD) build-*
