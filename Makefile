# The two commands of the README: `make test` and `make demo`.
# Both install what is missing first (scripts/setup.sh is idempotent).
JOBS ?= $(shell nproc)
CTEST = ctest -j$(JOBS)

.PHONY: all setup build build-linux build-windows test test-linux test-windows sanitize fuzz bench clean

all: build

setup:
	@bash scripts/setup.sh

build-linux: setup
	@cmake --preset linux >/dev/null
	@cmake --build --preset linux

build-windows: setup
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows

build: build-linux build-windows

test-linux: build-linux
	$(CTEST) --preset linux

test-windows: build-windows
	$(CTEST) --preset windows

# AddressSanitizer/UBSan and ThreadSanitizer over the unit and loopback tests.
sanitize: setup
	@cmake --preset asan >/dev/null && cmake --build --preset asan
	$(CTEST) --preset asan
	@cmake --preset tsan >/dev/null && cmake --build --preset tsan
	$(CTEST) --preset tsan

test: test-linux test-windows sanitize

clean:
	rm -rf build
