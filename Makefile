# The two set-up commands. Each installs what is missing, configures, builds,
# then runs: `make run` the main job, `make test` every suite through CTest.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test format-check clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/vidmorph-cli -version

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

format-check: deps
	./scripts/check-format.sh

clean:
	rm -rf $(BUILD)
