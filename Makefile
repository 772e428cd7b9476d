# `make run` and `make test` do all the set-up on a fresh Debian 12 machine.
BUILD_DIR ?= build/release
ASAN_DIR  ?= build/asan
JOBS      ?= $(shell nproc)
CMAKE_FLAGS ?=
ifeq ($(CI),true)
  CMAKE_FLAGS += -DTAVO_WERROR=ON
endif
# ccache speeds up rebuilds where it is installed; nothing needs it.
ifneq ($(shell command -v ccache 2>/dev/null),)
  CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR := $(CURDIR)
endif

.PHONY: all deps build run test asan test-asan test-windows windows fuzz bench install clean format format-check

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/app/tavo

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

$(ASAN_DIR)/build.ninja:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVO_SANITIZE=ON \
	  -DTAVO_BUILD_BENCH=OFF $(CMAKE_FLAGS)

asan: deps $(ASAN_DIR)/build.ninja
	cmake --build $(ASAN_DIR) -j $(JOBS)

# The tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: asan
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# The core, the Windows back ends and their tests, cross-built with MinGW-w64
# and run under Wine (installs about 1.4 GB on first use); then the window
# for Windows, its installer, and a run of both under Wine as a user would.
test-windows:
	JOBS=$(JOBS) scripts/test-windows.sh

# The window for Windows: build/windows-app/Tavo/, Tavo-<version>-setup.exe and
# Tavo-<version>-portable.zip. The first run builds Qt for Windows (about
# 40 minutes on two cores) into ~/.cache/tavo; later runs find it there.
windows:
	JOBS=$(JOBS) scripts/build-windows.sh

# The fuzzers (clang's libFuzzer with the sanitizers) for a bounded time in
# all: FUZZ_SECONDS, a third to the export fuzzer, a third to the reader of
# another computer's snapshot output, a sixth each to the WS-Management reply
# reader and the check of a server's Negotiate tokens.
# Findings are written to build/fuzz/.
FUZZ_SECONDS ?= 45
FUZZ_FLAGS = -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I.
fuzz:
	@scripts/install-deps.sh packages/optional-fuzz.txt packages/grid.txt
	mkdir -p build/fuzz/corpus build/fuzz/snapshot-corpus build/fuzz/reply_corpus build/fuzz/token_corpus
	clang++ $(FUZZ_FLAGS) $$(xml2-config --cflags) tests/fuzz/export_fuzzer.cpp grid/*.cpp \
	  -lcsv $$(xml2-config --libs) -o build/fuzz/export_fuzzer
	clang++ $(FUZZ_FLAGS) tests/fuzz/snapshot_fuzzer.cpp \
	  platform/linux/wmi/remote_frames.cpp platform/linux/wmi/remote_script.cpp \
	  platform/linux/wmi/lost_values.cpp support/text.cpp \
	  -o build/fuzz/snapshot_fuzzer
	clang++ $(FUZZ_FLAGS) $$(xml2-config --cflags) tests/fuzz/reply_parser_fuzzer.cpp \
	  platform/linux/winrm/reply_parser.cpp grid/error.cpp support/cancellation.cpp support/text.cpp \
	  $$(xml2-config --libs) -o build/fuzz/reply_parser_fuzzer
	clang++ $(FUZZ_FLAGS) tests/fuzz/ntlm_challenge_fuzzer.cpp \
	  platform/linux/winrm/server_tokens.cpp -o build/fuzz/ntlm_challenge_fuzzer
	build/fuzz/export_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 3 )) -max_len=4096 -timeout=10 \
	  -artifact_prefix=build/fuzz/ build/fuzz/corpus tests/fuzz/seeds
	build/fuzz/snapshot_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 3 )) -max_len=8192 -timeout=10 \
	  -artifact_prefix=build/fuzz/snapshot- build/fuzz/snapshot-corpus tests/fuzz/snapshot_seeds
	build/fuzz/reply_parser_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 6 )) -max_len=16384 \
	  -timeout=10 -artifact_prefix=build/fuzz/reply- build/fuzz/reply_corpus tests/fuzz/reply_seeds
	build/fuzz/ntlm_challenge_fuzzer -max_total_time=$$(( $(FUZZ_SECONDS) / 6 )) -max_len=1024 \
	  -timeout=10 -artifact_prefix=build/fuzz/token- build/fuzz/token_corpus tests/fuzz/ntlm_seeds

# Every benchmark runs, so one missed budget does not hide the others' figures;
# the ones that missed are named at the end and make the target fail.
bench: build
	@missed=; for b in $(BUILD_DIR)/bench/bench_*; do echo "== $$b"; $$b || missed="$$missed $${b##*/}"; done; \
	if [ -n "$$missed" ]; then echo "== budgets missed in:$$missed"; exit 1; fi; echo "== every budget met"

install: build
	cmake --install $(BUILD_DIR)

format:
	@scripts/install-deps.sh packages/optional-format.txt
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Fails on any file that the project's .clang-format would change.
format-check:
	@scripts/install-deps.sh packages/optional-format.txt
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
