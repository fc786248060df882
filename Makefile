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

fuzz: deps
	scripts/run-fuzzers

clean:
	rm -rf build
