# The two commands a newcomer needs: `make run` and `make test`. Everything else is optional.
PRESET ?= dev
BUILD  := build/$(PRESET)
SIM_LINK ?= /dev/ttyTK7V

.PHONY: all deps configure build run test test-asan test-tsan bench fuzz package docs windows test-windows clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: CMakeLists.txt CMakePresets.json
	cmake --preset $(PRESET)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD)

# Starts the simulated device on a virtual port the port list shows, then the program; the
# simulator stops when the program exits.
run: build
	@scripts/run-with-sim $(BUILD) $(SIM_LINK)

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

bench: build
	$(BUILD)/bench/tk7v-bench

# The Debian package (build/dev/tk7v_*.deb), checked.
package: build
	cd $(BUILD) && cpack -G DEB
	scripts/check-package $(BUILD)

# Pictures of the current window for the user guide, under a virtual display.
docs: build
	scripts/make-screenshots $(BUILD)

# Windows: Qt, OpenSSL and libpq cross-built once into caches outside the repository (about 25,
# 3 and 3 minutes the first time), then tk7v.exe and tk7v-cli.exe, self-contained, their setup
# (build/windows/tk7v-setup-<version>.exe) and a zip, both with the guide as a page.
QT_WINDOWS_CACHE ?= $(HOME)/.cache/tk7v-qt-windows
OPENSSL_WINDOWS_CACHE ?= $(HOME)/.cache/tk7v-openssl-windows
LIBPQ_WINDOWS_CACHE ?= $(HOME)/.cache/tk7v-libpq-windows
windows:
	@scripts/install-deps --windows
	scripts/build-qt-windows $(QT_WINDOWS_CACHE)
	TK7V_OPENSSL_WINDOWS_CACHE=$(OPENSSL_WINDOWS_CACHE) scripts/build-libpq-windows $(LIBPQ_WINDOWS_CACHE)
	TK7V_QT_WINDOWS=$(QT_WINDOWS_CACHE)/qt6-static TK7V_LIBPQ_WINDOWS=$(LIBPQ_WINDOWS_CACHE)/libpq-ssl \
	  cmake --preset windows
	cmake --build build/windows
	rm -rf build/windows/zip && cmake --install build/windows --prefix build/windows/zip/tk7v
	cd build/windows/zip && cmake -E tar cf ../tk7v-windows.zip --format=zip tk7v
	cd build/windows && cpack -G NSIS >/dev/null

# The Windows test programs under Wine, then the setup and the programs against the simulator.
test-windows: windows build
	scripts/wine-run cmd /c exit 0 >/dev/null 2>&1 || true  # the Wine prefix and its server, once
	ctest --preset windows
	scripts/test-windows build/windows $(BUILD)

fuzz: deps
	scripts/run-fuzzers

clean:
	rm -rf build
