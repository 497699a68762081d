# Front door: `make demo` and `make test` install what is missing, build and run.
SHELL := /bin/bash
# CMake's makefiles run make within make, which would print each directory it enters and leaves.
MAKEFLAGS += --no-print-directory
JOBS ?= 2
# Under make -j a build joins make's jobserver, which only a '+' line hands on, and keeps to its
# job count; a -j of its own would leave it ("-jN forced in submake"). Alone it runs $(JOBS) jobs.
# Not under -n, -q or -t, which a '+' line would not obey (check-setup-order reads make -pq).
make_letters = $(filter-out -%,$(firstword $(MAKEFLAGS)))
dry_run = $(findstring n,$(make_letters))$(findstring q,$(make_letters))$(findstring t,$(make_letters))
share_jobs = $(if $(findstring --jobserver,$(MAKEFLAGS)),$(if $(dry_run),,1))
plus_jobserver = $(if $(share_jobs),+)
build_jobs = $(if $(share_jobs),,-j$(JOBS))
# Scripts that build take -j$JOBS themselves: they get make's flags without the jobserver.
own_jobs = MAKEFLAGS=--no-print-directory
# Sets rt to the path of g++'s sanitizer runtime $(1), looked up as the recipe runs: on a fresh
# machine g++ exists only once the target's setup has installed it.
runtime = rt=$$(g++ -print-file-name=$(1)) && [ "$$rt" != $(1) ] || { echo "$(1): g++ has no such runtime" >&2; exit 1; }
# Each test has a limit that only a hang reaches (test/js/limited_test.js); each file one too,
# where node has the option, for a hang outside any test.
NODE_TEST := node --test --test-concurrency=1 \
	$$(node --test-timeout=1 -e 0 2>/dev/null && echo --test-timeout=1800000)
# Named one by one: the folders' helpers would otherwise run as empty passing tests.
JS_TESTS := $(wildcard test/js/*.test.js har/test/*.test.js)
# Each test run gets a fresh TMPDIR that must be empty again at its end.
CLEAN_TMP := $(CURDIR)/scripts/leaves-nothing.sh

.PHONY: all setup setup-device build build-asan build-tsan build-bench demo test test-asan \
	test-stress test-tsan bench bench-count bench-compare fuzz fuzz-mutants format clean check-device check-device-proof registry-mutant js-mutants pack \
	setup-arm64 build-arm64 test-arm64 test-arm64-har arm64-mutant

all: build

# Every target that configures or runs what setup installs waits for it, as an order-only
# prerequisite: under make -j a configure step beside setup would run before its tools exist.
# scripts/check-setup-order.sh, run by make test, holds every target to that.
setup:
	@bash scripts/setup.sh

# After setup, not beside it: two apt runs at once would fight over apt's lock.
setup-device: setup
	@bash scripts/setup.sh device

build/Makefile: CMakeLists.txt | setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: build/Makefile | setup
	$(plus_jobserver)cmake --build build $(build_jobs)

demo: build
	node examples/demo.js

test: build
	@# The check itself must fail on a command that leaves a file behind.
	@! $(CLEAN_TMP) sh -c 'touch "$$TMPDIR/left"' 2>/dev/null || { echo "leaves-nothing missed a file"; exit 1; }
	@# Likewise the layer check must fail on a tree whose engine side includes the JS side.
	@! bash scripts/check-layers.sh test/layers 2>/dev/null || { echo "check-layers missed an include"; exit 1; }
	bash scripts/check-layers.sh
	@# And the order check must fail on this Makefile with the configure step beside setup.
	@sed 's/^build\/Makefile: CMakeLists.txt | setup$$/build\/Makefile: CMakeLists.txt/' Makefile >build/order-mutant.mk
	@! bash scripts/check-setup-order.sh build/order-mutant.mk 2>/dev/null \
		|| { echo "check-setup-order missed a configure step beside setup"; exit 1; }
	@rm build/order-mutant.mk
	bash scripts/check-setup-order.sh
	$(CLEAN_TMP) bash test/scripts/debian_arm64.sh
	$(CLEAN_TMP) bash test/scripts/setup_node.sh
	cd build && $(CLEAN_TMP) ctest --output-on-failure
	KAVORI_BUILD_DIR=build $(CLEAN_TMP) $(NODE_TEST) $(JS_TESTS)

# AddressSanitizer + UndefinedBehaviorSanitizer. Node is not instrumented: the runtime is
# preloaded into it; native binaries keep LeakSanitizer on.
ASAN_NODE_ENV := KAVORI_BUILD_DIR=build-asan ASAN_OPTIONS=detect_leaks=0:allow_user_segv_handler=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
build-asan: | setup
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKAVORI_SANITIZE=address >/dev/null
	$(plus_jobserver)cmake --build build-asan $(build_jobs)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		$(CLEAN_TMP) ctest --output-on-failure
	$(call runtime,libasan.so); $(CLEAN_TMP) env $(ASAN_NODE_ENV) LD_PRELOAD=$$rt $(NODE_TEST) $(JS_TESTS)
	$(MAKE) fuzz FUZZ_SECONDS=20

# Not in CI: the node suites of test and test-asan, 10 and 5 rounds, while two busy loops keep
# both cores loaded; every round must pass.
STRESS_ROUNDS ?= 10
STRESS_ASAN_ROUNDS ?= 5
test-stress: build build-asan
	@$(call runtime,libasan.so); bash scripts/stress.sh \
		$(STRESS_ROUNDS) test "KAVORI_BUILD_DIR=build $(CLEAN_TMP) $(NODE_TEST) $(JS_TESTS)" \
		$(STRESS_ASAN_ROUNDS) test-asan "$(CLEAN_TMP) env $(ASAN_NODE_ENV) LD_PRELOAD=$$rt $(NODE_TEST) $(JS_TESTS)"

# ThreadSanitizer over the threaded tests.
TSAN_JS := test/js/events_delivery.test.js test/js/events_teardown.test.js test/js/events_table.test.js \
	test/js/record.test.js test/js/lifecycle.test.js test/js/surface.test.js \
	test/js/tsan_probe.test.js test/js/registry_threads.test.js test/js/events_routing.test.js \
	test/js/streams.test.js
build-tsan: | setup
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DKAVORI_SANITIZE=thread >/dev/null
	$(plus_jobserver)cmake --build build-tsan $(build_jobs)

test-tsan: build-tsan
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 $(CLEAN_TMP) ctest --output-on-failure
	$(call runtime,libtsan.so); $(CLEAN_TMP) env KAVORI_BUILD_DIR=build-tsan LD_PRELOAD=$$rt \
		TSAN_OPTIONS="report_signal_unsafe=0 suppressions=$(CURDIR)/test/tsan.supp" \
		$(NODE_TEST) $(TSAN_JS)

FUZZ_SECONDS ?= 60
fuzz: | setup
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(plus_jobserver)cmake --build build-fuzz $(build_jobs)
	@for f in build-fuzz/*_fuzz; do \
		[ -x "$$f" ] || continue; \
		echo "fuzz: $$f for $(FUZZ_SECONDS) s"; \
		"$$f" -max_total_time=$(FUZZ_SECONDS) -print_final_stats=0 >/dev/null 2>build-fuzz/$$(basename $$f).log \
			|| { tail -40 build-fuzz/$$(basename $$f).log; exit 1; }; \
	done

# Wrong versions of the event texts the fuzzer must catch, each within FUZZ_SECONDS.
fuzz-mutants: | setup
	$(own_jobs) FUZZ_SECONDS=$(FUZZ_SECONDS) bash test/fuzz/mutants/run.sh

# The registry built without its reader wait, which the worker stress test must catch under ASan;
# slow (about 15 minutes), so not in CI.
registry-mutant: | setup
	$(own_jobs) bash test/mutants/registry.sh

# Wrong versions of the module that the JS tests must catch.
js-mutants: | setup
	$(own_jobs) bash test/js/mutants/run.sh $(MUTANTS)

# The ArkTS package as ohpm packs it (build/pack/*.har), with the device build's library in
# libs/arm64-v8a, its file list and the paths it must hold, and the example app module checked
# against the unpacked archive alone. The library is then read back from the archive: the device
# check's facts, and the very bytes check-device proved.
PACK_LIB := package/libs/arm64-v8a/libkavoriplayer_audio_napi.so
pack: check-device
	node har/test/pack.js --native $(DEVICE_DIR)/module/libkavoriplayer_audio_napi.so
	@out=$$(mktemp -d) && trap 'rm -rf "$$out"' EXIT && \
		tar -xzf build/pack/*.har -C "$$out" $(PACK_LIB) && \
		$(call DEVICE_CHECK,$$out/$(PACK_LIB)) && \
		cmp "$$out/$(PACK_LIB)" $(DEVICE_DIR)/module/libkavoriplayer_audio_napi.so && \
		echo "pack: $(PACK_LIB) is $(DEVICE_DIR)/module/libkavoriplayer_audio_napi.so," \
			"$$(stat -c %s "$$out/$(PACK_LIB)") bytes, byte for byte"

build-bench: | setup
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	$(plus_jobserver)cmake --build build-bench $(build_jobs)

# Every bench/*.js (CPU time and rates, interleaved rounds, medians), then the goals table; fails
# only when a bench fails. Figures go to build-bench/bench-results, which both targets share.
bench: build-bench
	bash bench/run.sh

# Instructions per call and per event under callgrind, which load does not move; prints the goals
# table as met or not, and fails only when a run fails.
bench-count: build-bench
	JOBS=$(JOBS) bash bench/callgrind_counts.sh

# Both targets on the module of commit BASE (its sources, this tree's benches) and on this tree,
# one after the other, and the goals table before and after side by side. The default base is
# where the work on the fast road began.
BASE ?= b1ec1cf
bench-compare: build-bench
	$(own_jobs) JOBS=$(JOBS) bash bench/before_after.sh $(BASE)

# Device build check: the module cross-built for arm64-v8a through a toolchain file used as the
# SDK's is, against a stand-in SDK (musl, stub libraries, Node-API names of the module's lowest API
# level), then read back: machine, NEEDED, RUNPATH, Node-API levels, exported names. Built twice:
# by the README's command line, and as the package's build profile has it built.
# check-device-proof relinks it with faults the check must catch.
DEVICE_DIR := build-device
DEVICE_API_LEVEL := $(shell sed -n 's/^set.KAVORI_OHOS_API_LEVEL \([0-9]*\) .*/\1/p' CMakeLists.txt)
DEVICE_CHECK = bash test/elf/check_library.sh $(1) test/elf/exports.txt AArch64 \
	test/elf/device_needed.txt test/elf/napi_levels.txt $(DEVICE_API_LEVEL)
check-device: | setup-device
	bash scripts/ohos-check-sdk.sh $(DEVICE_DIR)/sdk $(DEVICE_API_LEVEL)
	cmake --fresh -S . -B $(DEVICE_DIR)/module -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/ohos-check.toolchain.cmake \
		-DOHOS_ARCH=arm64-v8a -DOHOS_STL=c++_shared -DOHOS_CHECK_SDK=$(CURDIR)/$(DEVICE_DIR)/sdk \
		-DKAVORI_ENGINE_DIR=$(CURDIR)/$(DEVICE_DIR)/sdk/engine -DKAVORI_WERROR=ON \
		-DCMAKE_BUILD_TYPE=Release >/dev/null
	$(plus_jobserver)cmake --build $(DEVICE_DIR)/module $(build_jobs)
	$(call DEVICE_CHECK,$(DEVICE_DIR)/module/libkavoriplayer_audio_napi.so)
	libs=$$($(own_jobs) JOBS=$(JOBS) bash scripts/ohos-check-profile.sh $(DEVICE_DIR)/profile $(DEVICE_DIR)/sdk) && \
		for lib in $$libs; do $(call DEVICE_CHECK,$$lib) || exit 1; done

check-device-proof: build check-device
	$(own_jobs) bash test/elf/prove_device_check.sh

# The host build cross-built for aarch64 (Debian's cross compiler) and run under qemu-aarch64-static:
# the native test binaries, then the node suites, each file in the emulated node (its own test
# runner would start x86_64 children). Node.js, FFmpeg and GoogleTest come from Debian's arm64
# packages, unpacked into a sysroot in the build folder, never installed.
ARM64_DIR := build-arm64
ARM64_SYSROOT := $(CURDIR)/$(ARM64_DIR)/sysroot
ARM64_NODE := qemu-aarch64-static -L $(ARM64_SYSROOT) $(ARM64_SYSROOT)/usr/bin/node
ARM64_RUN_JS = KAVORI_BUILD_DIR=$(ARM64_DIR)/build KAVORI_TEST_NODE="$(ARM64_NODE)" KAVORI_TEST_EMULATED=1 \
	$(CLEAN_TMP) node test/js/run_each.js --arch=arm64 $(1)
# After setup, not beside it, for apt's lock as with setup-device.
setup-arm64: setup
	@bash scripts/setup.sh arm64

build-arm64: | setup-arm64
	bash scripts/arm64-sysroot.sh $(ARM64_SYSROOT)
	cmake -S . -B $(ARM64_DIR)/build -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm64-linux.toolchain.cmake \
		-DARM64_SYSROOT=$(ARM64_SYSROOT) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	$(plus_jobserver)cmake --build $(ARM64_DIR)/build $(build_jobs)

# CI runs the module's suites; the package's, JS over the same native calls and most of the
# emulated time, run beside them in test-arm64-har.
test-arm64: build-arm64
	cd $(ARM64_DIR)/build && $(CLEAN_TMP) ctest --output-on-failure
	$(call ARM64_RUN_JS,$(filter test/js/%,$(JS_TESTS)))

test-arm64-har: build-arm64
	$(call ARM64_RUN_JS,$(filter har/test/%,$(JS_TESTS)))

# A fault only arm64 has (plain char read as signed) that test-arm64's native run must catch and
# the host's must not.
arm64-mutant: build-arm64
	$(own_jobs) bash test/mutants/arm64.sh $(ARM64_SYSROOT)

format: | setup
	clang-format -i $$(git ls-files '*.c' '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench build-device build-mutants build-ab build-arm64
