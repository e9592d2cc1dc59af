# The two commands of the README, plus a few for developers.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all bootstrap configure build test bench clean run

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench/*; do \
		if [ -f "$$b" ] && [ -x "$$b" ]; then echo "== $$(basename $$b)"; "$$b" || exit 1; fi; \
	done

clean:
	rm -rf $(BUILD)

# The panel against the simulator; says so and fails when there is no display.
run:
	@scripts/run-panel --check
	@$(MAKE) --no-print-directory build
	@BUILD=$(BUILD) scripts/run-panel
