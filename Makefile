# Velmo: make demo | make test | make bench | make package | make serve | make screens | make repo
# Each target installs the Debian packages the build needs when they are missing,
# configures with CMake and builds into build/ (programs in build/bin/).
# `make demo` builds only the device program and what it installs; `make test`
# and `make bench` build everything. WERROR=ON makes warnings fatal, as CI does.

PACKAGES := cmake g++ make pkg-config libplist-dev libplist-utils libpng-dev libgtest-dev \
            libgmock-dev libbenchmark-dev libssl-dev libedit-dev libarchive-dev python3 \
            libcairo2-dev libpango1.0-dev fonts-inter libcpp-httplib-dev nlohmann-json3-dev \
            libunicorn-dev llvm-14-dev clang-14 lld-14 llvm-22-dev lld-22
# velmo-device install runs maintainer scripts confined with bwrap.
PACKAGES += bubblewrap
# The browser test's: Debian's Chromium, and node with npm where the machine has none.
TEST_PACKAGES := chromium
WEB_TESTS := tests/web
# The Clang build (CI's ThreadSanitizer build, the clang and tsan presets).
CLANG_PACKAGES := clang-14 libclang-rt-14-dev
# The phone build: Debian's clang and lld 22 for arm64 and arm64e Mach-O (from
# Debian 12's security suite), LLVM's tools to read it back and LLVM's Mach-O
# header for the arm64e finishing step.
PHONE_PACKAGES := clang-22 lld-22 llvm-22 llvm-22-dev
# The package repository (make repo, and its test under make test): Debian's
# apt-ftparchive writes its index and Release, gzip, bzip2 and xz compress.
PHONE_PACKAGES += apt-utils gzip bzip2 xz-utils
# The repository's base address: every address in the phone package's control
# file, its pages and the repository starts with it.
REPO_URL ?= http://127.0.0.1:8000
PHONE_BUILD ?= build-phone
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# WERROR=ON|OFF sets VELMO_WERROR; unset, the build folder keeps what it has (OFF when new).
WERROR ?=
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# The README's pictures: three of the demo's screens, copied into docs/, and
# the page of velmo-device serve, docs/web-page.png, taken by the browser test.
SCREENS := 02-velmo-pane 05-album-list-locked 06-face-id-prompt


# make fuzz: each libFuzzer target (tests/fuzz) for FUZZ_SECONDS, in a Clang
# build with ASan and UBSan; crashes are kept under $(FUZZ_BUILD)/fuzz/crashes.
FUZZ_SECONDS ?= 300
FUZZ_BUILD ?= build-fuzz
# make soak: the fault-injection and resource tests SOAK_FACTOR times longer.
SOAK_FACTOR ?= 20

.PHONY: all deps deps-clang deps-phone web-deps configure build test demo bench package phone repo screens serve fuzz soak clean

all: build

# Installs the packages named in the shell variable missing. The package
# lists are updated first, quietly, when apt knows no installable version of
# one of them (a new machine has no lists at all), so that apt never reports a
# package it cannot find; and once more if the install fails anyway (lists too
# old for the mirror's files).
APT_INSTALL = echo "installing:$$missing"; \
	for p in $$missing; do \
	  apt-cache policy $$p 2>/dev/null | grep -q 'Candidate: [^(]' || { $(SUDO) apt-get update -qq; break; }; \
	done; \
	$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing \
	|| { $(SUDO) apt-get update -qq && $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; }

deps:
	@missing=""; for p in $(PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then $(APT_INSTALL); fi

# Chromium and node from Debian when missing, then Playwright (pinned in
# tests/web/package-lock.json to a release that runs on Debian 12's node 18)
# from npm when it is not installed, or installed at another version.
web-deps: deps
	@missing=""; for p in $(TEST_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || missing="$$missing $$p"; done; \
	command -v npm >/dev/null 2>&1 || missing="$$missing nodejs npm"; \
	if [ -n "$$missing" ]; then $(APT_INSTALL); fi
	@cd $(WEB_TESTS) && [ "$$(node -p 'require("./package.json").devDependencies["playwright-core"]')" = \
	  "$$(node -p 'require("./node_modules/playwright-core/package.json").version' 2>/dev/null)" ] || \
	  npm ci --no-audit --no-fund

deps-clang:
	@$(MAKE) --no-print-directory deps PACKAGES="$(CLANG_PACKAGES)"

deps-phone:
	@$(MAKE) --no-print-directory deps PACKAGES="$(PHONE_PACKAGES)"

# The browser test runs on the node found on PATH, the one web-deps installs
# Playwright with (CMake would otherwise keep the node it found first).
configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(if $(WERROR),-DVELMO_WERROR=$(WERROR)) $$(command -v node | sed 's/^/-DNODE=/')

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: web-deps build phone
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target velmo-device
	rm -rf $(BUILD)/demo-device
	$(BUILD)/bin/velmo-device demo --root $(BUILD)/demo-device

screens: web-deps build
	rm -rf $(BUILD)/screens-device
	$(BUILD)/bin/velmo-device demo --root $(BUILD)/screens-device > /dev/null
	mkdir -p docs
	for s in $(SCREENS); do cp $(BUILD)/screens-device/screens/$$s.png docs/$$s.png; done
	VELMO_BIN=$(CURDIR)/$(BUILD)/bin VELMO_PAGE_PICTURE=$(CURDIR)/docs/web-page.png \
	  node $(WEB_TESTS)/browser_test.mjs > /dev/null

# Velmo's Debian package: build/packages/com.qel.velmo_<version>_<arch>.deb
package: configure
	cmake --build $(BUILD) -j $(JOBS) --target velmo-package
	@ls -1 $(BUILD)/packages/com.qel.velmo_*.deb

# Velmo for a jailbroken phone (rootless; fat files of arm64 and arm64e):
# build-phone/packages/com.qel.velmo_<version>_iphoneos-arm64.deb
phone: deps deps-phone
	cmake -S phone -B $(PHONE_BUILD) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/phone/toolchain.cmake \
	  $(if $(WERROR),-DVELMO_WERROR=$(WERROR)) -DVELMO_REPO_URL=$(REPO_URL)
	cmake --build $(PHONE_BUILD) -j $(JOBS)
	@ls -1 $(PHONE_BUILD)/packages/com.qel.velmo_*_iphoneos-arm64.deb

# A static package repository of the phone package, build-phone/repo/, for
# any web server to publish at REPO_URL (see the README's Publishing).
repo: phone
	cmake --build $(PHONE_BUILD) --target phone-repo
	@echo "build-phone/repo/ is the repository for $(REPO_URL)"

# Each run's JSON goes to build/bench/<time>/, the console output beside it;
# build/bench/latest is the last run.
bench: build phone
	@run=$(BUILD)/bench/$$(date -u +%Y%m%d-%H%M%S); mkdir -p $$run; \
	for b in $(BUILD)/bin/bench_*; do n=$$(basename $$b); echo "running $$n"; \
	  $$b --benchmark_out=$$run/$$n.json --benchmark_out_format=json >$$run/$$n.txt 2>&1 \
	  || { cat $$run/$$n.txt; exit 1; }; done; \
	ln -sfn $$(basename $$run) $(BUILD)/bench/latest; echo; \
	python3 bench/table.py $$run

# The phone in a browser: serves build/web-device (made on first use) on
# 127.0.0.1, port 8765 or PORT=N; Ctrl-C ends it and every program it started.
serve: build
	$(BUILD)/bin/velmo-device serve --root $(BUILD)/web-device $(if $(PORT),--port $(PORT))

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
