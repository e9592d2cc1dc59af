# The two commands of the README, plus a few for developers.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# The benchmarks are built only for make bench: a test run does not need them.
BENCH ?= OFF

.PHONY: all bootstrap configure build test bench clean test-sanitize fuzz fuzz-ci run soak package

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) -DTK770_BENCH=$(BENCH) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# Builds and runs every benchmark program, then prints the table of figures
# against their goals and writes it to docs/performance.md. The next make
# test leaves the benchmarks out again (their objects stay for the next time).
bench:
	@$(MAKE) --no-print-directory build BENCH=ON
	@scripts/bench-report $(BUILD)

clean:
	rm -rf $(BUILD)

# The Debian package (CPack, dependencies from dpkg-shlibdeps) in $(BUILD)/,
# then lintian: any error fails the target.
package: build
	@rm -f $(BUILD)/tk770_*.deb
	@cd $(BUILD) && cpack -G DEB >/dev/null
	@deb=$$(ls $(BUILD)/tk770_*.deb) && echo "$$deb" && \
	  if command -v lintian >/dev/null; then lintian --fail-on error "$$deb"; \
	  else echo "lintian not installed: not checked"; fi

# The real window, offscreen, against a simulator that misbehaves at random,
# then a clean download and read-back. Bounded by time and events; not in CI.
SOAK_SECONDS ?= 120
SOAK_EVENTS ?= 200000
soak: build
	@$(BUILD)/bin/tk770-soak --seconds $(SOAK_SECONDS) --events $(SOAK_EVENTS)

# The panel against the simulator; says so and fails when there is no display.
run:
	@scripts/run-panel --check
	@$(MAKE) --no-print-directory build
	@BUILD=$(BUILD) scripts/run-panel

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
# Reports also go to files: the simulator and the command-line tool run as
# child processes whose stderr the tests do not always show, so any report
# file left after the run fails it. ctest hands this environment on to every
# test and the build uses it when it lists the tests.
SAN_BUILD ?= build-asan
SAN_LOGS = $(CURDIR)/$(SAN_BUILD)/sanitizer-logs
SAN_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:log_path=$(SAN_LOGS)/asan \
          LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
          UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$(SAN_LOGS)/ubsan

test-sanitize: bootstrap
	@cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTK770_SANITIZE=ON -DTK770_BENCH=OFF >/dev/null
	@rm -rf $(SAN_LOGS) && mkdir -p $(SAN_LOGS)
	@$(SAN_ENV) cmake --build $(SAN_BUILD) -j$(JOBS)
	@cd $(SAN_BUILD) && $(SAN_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS); \
	  status=$$?; $(CURDIR)/scripts/sanitizer-report $(SAN_LOGS) || status=1; exit $$status

# libFuzzer targets, built with clang in their own tree so the normal build
# is untouched. FUZZ_SECONDS is per fuzzer; fuzz-ci is the short run for CI.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

fuzz: bootstrap
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTK770_FUZZ=ON -DTK770_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS) --target tk770-fuzzers
	@scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-ci:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=20
