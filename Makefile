# The two set-up commands of a fresh Debian 12 machine:
#   make demo   install what is missing, build, and run the main job on the embedded default
#   make test   install what is missing, build, and run the whole test suite
# and beyond them:
#   make package  the Debian package (auralink_<version>_<architecture>.deb)
#   make windows  the build for Windows (x86-64, mingw-w64) and its check under Wine
#   make test-windows  the tests of that build under Wine
BUILD_DIR ?= build
WINDOWS_BUILD_DIR ?= build-windows
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SANITIZE ?=

DEBIAN_PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev \
	unixodbc unixodbc-dev odbcinst libsqliteodbc libsqlite3-dev sqlite3 \
	default-jdk-headless dpkg-dev

WINDOWS_PACKAGES := g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64

.PHONY: all deps configure build test demo test-asan test-tsan install package clean windows windows-deps \
	test-windows

all: build

deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing Debian packages. Run as root:"; \
	    echo "  apt-get update && apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

windows-deps:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(WINDOWS_PACKAGES)"

WINDOWS_CMAKE := cmake -S . -B $(WINDOWS_BUILD_DIR) \
	-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release

# The modules and programs for Windows in $(WINDOWS_BUILD_DIR)/bin, then their check under
# Wine against the Linux build (which makes the stand-in repository and the reference).
windows: build windows-deps
	$(WINDOWS_CMAKE)
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)
	scripts/windows-check.sh $(WINDOWS_BUILD_DIR) $(BUILD_DIR)

# The same build with its tests, run under Wine in a fresh prefix.
test-windows: deps windows-deps
	$(WINDOWS_CMAKE) -DAURALINK_WINDOWS_TESTS=ON
	cmake --build $(WINDOWS_BUILD_DIR) -j $(JOBS)
	scripts/windows-tests.sh $(WINDOWS_BUILD_DIR)

configure: deps
	cmake -S . -B $(BUILD_DIR) -DAURALINK_SANITIZE=$(SANITIZE)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo.sh $(BUILD_DIR)

test-asan:
	$(MAKE) test BUILD_DIR=build-asan SANITIZE=address

test-tsan:
	$(MAKE) test BUILD_DIR=build-tsan SANITIZE=thread

install: build
	cmake --install $(BUILD_DIR)

# The Debian package, written into the build folder: auralink_<version>_<architecture>.deb
# (dpkg-dev, among the packages above, works out its library dependencies).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf build build-asan build-tsan build-windows
