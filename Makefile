# The two set-up commands of a fresh Debian 12 machine:
#   make demo   install what is missing, build, and run the main job on the embedded default
#   make test   install what is missing, build, and run the whole test suite
#   make package  the same, then the Debian package (auralink_<version>_<architecture>.deb)
BUILD_DIR ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SANITIZE ?=

DEBIAN_PACKAGES := cmake make g++ pkg-config libgtest-dev libgmock-dev \
	unixodbc unixodbc-dev odbcinst libsqliteodbc libsqlite3-dev sqlite3 \
	default-jdk-headless dpkg-dev

.PHONY: all deps configure build test demo test-asan test-tsan install package clean

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
	rm -rf build build-asan build-tsan
