# The two commands of the README: `make test` and `make demo`.
# Both install what is missing first (scripts/setup.sh is idempotent).
JOBS ?= $(shell nproc)
CTEST = ctest -j$(JOBS)

.PHONY: layers all setup build build-linux build-windows test test-linux test-windows sanitize fuzz fuzz-long clean package

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

# The Debian packages starfell-server and starfell-launcher, from an optimised
# build, into build/linux-release/packages/.
package: setup
	@cmake --preset linux-release >/dev/null
	@cmake --build --preset linux-release --target starfell-server StarfellLauncher package_files
	@cd build/linux-release && cpack

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

# libFuzzer targets: a short run of each in `make test`, ten minutes each in fuzz-long.
# fuzz-long prints each target's executions; its whole output stays in build/fuzz/fuzz-long.log.
fuzz: setup
	@cmake --preset fuzz -DSTARFELL_FUZZ_SECONDS=30 >/dev/null && cmake --build --preset fuzz --target fuzz_targets
	$(CTEST) --test-dir build/fuzz -L fuzz --output-on-failure

fuzz-long: setup
	@cmake --preset fuzz -DSTARFELL_FUZZ_SECONDS=600 >/dev/null && cmake --build --preset fuzz --target fuzz_targets
	@ctest --test-dir build/fuzz -L fuzz --verbose -j1 --timeout 1200 >build/fuzz/fuzz-long.log 2>&1; status=$$?; \
	  grep -E "^[0-9]+: (stat::number_of_executed|Done|==[0-9]+==ERROR)|Test +#|tests passed" build/fuzz/fuzz-long.log; \
	  echo "whole log: build/fuzz/fuzz-long.log"; exit $$status

layers:
	@python3 scripts/check-layers

# Everything, with the suites overlapping; prints each stage's time (scripts/test-all).
test:
	@bash scripts/test-all

clean:
	rm -rf build

# The end-to-end tests matching K (a pytest -k expression), with both builds
# as they are: `make e2e K=side_panel`; W workers side by side (default 2).
K ?=
W ?= 2
.PHONY: e2e
e2e:
	@cd tests/e2e && STARFELL_E2E_WORKERS=$(W) ./run-e2e . -p no:cacheprovider -q $(if $(K),-k "$(K)") \
	  --launcher=../../build/linux/bin/StarfellLauncher --client=../../build/linux/bin/Conquer.exe \
	  --launcher=../../build/windows/bin/StarfellLauncher.exe --client=../../build/windows/bin/Conquer.exe \
	  --server=../../build/linux/bin/starfell-server
