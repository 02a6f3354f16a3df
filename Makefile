# Every target installs what it needs first; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps deb-deps configure build run test test-fresh test-sanitize bench soak fuzz install uninstall deb test-deb clean

all: build

deps:
	@./tools/install-deps.sh

# The packaging tools on top: debhelper, lintian, debootstrap.
deb-deps:
	@./tools/install-deps.sh deb

# Warnings are errors in every build made here (and so in CI's).
configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTASSIO_WERROR=ON $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@cd $(BUILD) && ./tassio

# Every test but the soak (make soak), the end-to-end scripts in parallel.
test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE soak

# make test from a clean clone of HEAD inside a fresh Debian 12 root
# (debootstrap minbase, cached in /var/cache/tassio). Needs root; says so and
# does nothing otherwise.
test-fresh:
	@if [ "$$(id -u)" -ne 0 ]; then \
	    echo "test-fresh: SKIP: needs root (debootstrap, chroot and mounting /proc, /sys and /dev in the test root); run it as root or with sudo"; \
	else \
	    $(MAKE) --no-print-directory deb-deps && ./tools/test-fresh.sh; \
	fi

# The unit and widget tests, and the end-to-end tests against the program, all
# built with AddressSanitizer and UndefinedBehaviorSanitizer (the soak aside).
test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTASSIO_SANITIZE=address,undefined -DTASSIO_BENCH=OFF \
	    -DTASSIO_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L '^(unit|e2e)$$' -LE soak

# make bench BEFORE=<another build>/tassio measures that build too, in the
# same rounds: before and after side by side.
bench: build
	@$(BUILD)/bench/tassio_bench
	@$(BUILD)/bench/tassio_viewer_bench
	@xvfb-run -a -s "-screen 0 1024x768x24 -noreset" $(BUILD)/bench/tassio_grab_bench
	@/usr/bin/python3 bench/startup.py $(BUILD)/tassio
	@/usr/bin/python3 bench/window_sizes.py $(BUILD)/tassio $(BEFORE)
	@/usr/bin/python3 bench/desktop_cost.py $(BUILD)/tassio $(BUILD)/bench/bare_swing 20 3 $(if $(BEFORE),--before $(BEFORE))
	@/usr/bin/python3 bench/desktop_cost.py $(BUILD)/tassio $(BUILD)/bench/bare_swing 20 3 --compositor picom \
	    $(if $(BEFORE),--before $(BEFORE))
	@/usr/bin/python3 bench/wakeups.py $(BUILD)/tassio 10 3
	@/usr/bin/python3 bench/standstill.py $(BUILD)/tassio 3

# A long run under Xvfb: make soak SECONDS=3600 (two minutes by default).
soak: build
	@/usr/bin/python3 tests/e2e/soak.py $(BUILD)/tassio $(or $(SECONDS),120)

# Installs under $(DESTDIR)$(PREFIX); the build's install_manifest.txt lists what went where.
install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Removes exactly the files that manifest lists, under $(DESTDIR).
uninstall:
	@DESTDIR="$(DESTDIR)" cmake -DMANIFEST="$(BUILD)/install_manifest.txt" -P packaging/uninstall.cmake

# tassio_<version>_<arch>.deb in this folder, built with dpkg-buildpackage in
# $(BUILD)/deb from a copy of the source; fails when lintian finds an error.
deb: deb-deps
	@./packaging/build-deb.sh $(BUILD) $(JOBS)

# Installs that package into a fresh Debian 12 root with apt-get and starts it
# there under xvfb-run. Needs root; says so and does nothing otherwise.
test-deb:
	@if [ "$$(id -u)" -ne 0 ]; then \
	    echo "test-deb: SKIP: needs root (debootstrap, chroot and mounting /proc in the test root); run it as root or with sudo"; \
	else \
	    $(MAKE) --no-print-directory deb && \
	    ./packaging/test-deb.sh tassio_$$(dpkg-parsechangelog -S Version)_$$(dpkg-architecture -qDEB_HOST_ARCH).deb; \
	fi

# libFuzzer targets (clang), SECONDS seconds each (default 60); fails on any crash.
fuzz: deps
	@FUZZ_BUILD=$(FUZZ_BUILD) FUZZ_JOBS=$(JOBS) ./fuzz/run.sh $(or $(SECONDS),60)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) tassio_*.deb
