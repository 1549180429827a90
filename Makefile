# The two set-up commands. Each installs what is missing, configures, builds,
# then runs: `make run` the main job, `make test` every suite through CTest.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test test-asan test-tsan format-check clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# With a display the window opens with the demo clip in its list; without
# one the demo clip is converted on the first MP4 preset by vidmorph-cli.
run: build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  $(BUILD)/bin/vidmorph $(BUILD)/demo/demo-input.avi; \
	else \
	  echo "make run: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so instead of the window vidmorph-cli converts the demo clip on the first MP4 preset into $(abspath $(BUILD))/demo"; \
	  profile=$$($(BUILD)/bin/vidmorph-cli --list-profiles | grep -m1 '^videoconvert/MP4/') && \
	  $(BUILD)/bin/vidmorph-cli --profile "$$profile" --output-folder $(abspath $(BUILD))/demo $(BUILD)/demo/demo-input.avi; \
	fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit, media and window suites under AddressSanitizer with UndefinedBehaviorSanitizer,
# leak checking on for the first two; every finding stops the test with its
# stack. Third-party libraries' one-time allocations are suppressed in
# tests/sanitizers/lsan.supp.
ASAN_BUILD ?= build-asan
SANITIZER_DIR = $(CURDIR)/tests/sanitizers
ASAN_ENV = ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=0:print_stacktrace=1:check_initialization_order=1 \
	LSAN_OPTIONS=suppressions=$(SANITIZER_DIR)/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The window suite without leak checking: Qt's own allocations on its
# threads now and then outlive the test (with no frame of ours in the stack).
ASAN_GUI_ENV = $(subst detect_leaks=1,detect_leaks=0,$(ASAN_ENV))

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DVIDMORPH_SANITIZE=address $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && $(ASAN_ENV) ctest --output-on-failure -j $(JOBS) -L 'unit|media'
	cd $(ASAN_BUILD) && $(ASAN_GUI_ENV) ctest --output-on-failure -j $(JOBS) -L gui

# The threading tests (CTest label tsan) under ThreadSanitizer; only their
# executables are built.
TSAN_BUILD ?= build-tsan
TSAN_TARGETS ?= engine_tests component_tests hardening_tests
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(SANITIZER_DIR)/tsan.supp

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DVIDMORPH_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TARGETS)
	cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -j $(JOBS) -L tsan

format-check: deps
	./scripts/check-format.sh

clean:
	rm -rf $(BUILD)
