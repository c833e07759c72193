# Tarnix: `make test` builds both builds and runs every test; `make demo` renders the demo.
BUILD   ?= build
NATIVE  := $(BUILD)/native
WIN     := $(BUILD)/win
OUT     ?= out
WINE_ENV = WINEPREFIX=$(abspath $(WIN))/wineprefix WINEDEBUG=-all

.PHONY: all test test-native test-win demo bench deps native win clean textures install uninstall

all: native win

deps:
	@tools/ensure-deps.sh

native: deps
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(NATIVE)

win: deps
	cmake -S . -B $(WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTARNIX_NATIVE_BUILD_DIR=$(abspath $(NATIVE))
	cmake --build $(WIN)

# Wine's first start (about 10 s) happens once per build folder, not per test.
$(WIN)/wineprefix/.ready:
	mkdir -p $(WIN)/wineprefix
	$(WINE_ENV) /usr/lib/wine/wine64 wineboot --init >/dev/null 2>&1 || true
	touch $@

test: test-native test-win test-asan test-tsan test-fuzz

test-native: native
	ctest --test-dir $(NATIVE) --output-on-failure

test-win: win $(WIN)/wineprefix/.ready
	@# A persistent server with its services started here, detached from ctest's output pipes:
	@# a service started by the first test would hold that test's pipe open and hang ctest.
	$(WINE_ENV) /usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
	$(WINE_ENV) /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1 || true
	$(WINE_ENV) ctest --test-dir $(WIN) --output-on-failure; status=$$?; \
	  $(WINE_ENV) /usr/lib/wine/wineserver -k || true; exit $$status

# Sanitizer builds, each in a folder of its own: the native suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (no recovery), the concurrency tests under ThreadSanitizer, and a
# bounded libFuzzer run of the module built with clang. Release, with line tables for reports.
# The demo test is left out here: it runs `make demo` on the folder it was built in.
ASAN := $(BUILD)/asan
TSAN := $(BUILD)/tsan
FUZZ := $(BUILD)/fuzz
SANITIZED = -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g1

.PHONY: test-asan test-tsan test-fuzz memory fuzz-long soak bench-peers

test-asan: deps
	cmake -S . -B $(ASAN) $(SANITIZED) -DTARNIX_SANITIZE=address,undefined,float-cast-overflow
	cmake --build $(ASAN)
	ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN) --output-on-failure --parallel 2 -E '^test_tarnix_make_demo$$'

test-tsan: deps
	cmake -S . -B $(TSAN) $(SANITIZED) -DTARNIX_SANITIZE=thread
	cmake --build $(TSAN) --target test_concurrency
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir $(TSAN) --output-on-failure -R '^test_concurrency$$'

test-fuzz: deps
	cmake -S . -B $(FUZZ) $(SANITIZED) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DTARNIX_SANITIZE=fuzzer-no-link,address,undefined -DTARNIX_FUZZ=ON
	cmake --build $(FUZZ) --target fuzz_module
	ctest --test-dir $(FUZZ) --output-on-failure -R '^fuzz_module$$'; status=$$?; \
	  grep -h -E '^(Done [0-9]+ runs|stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb))' \
	    $(FUZZ)/Testing/Temporary/LastTest.log || true; exit $$status

# A fuzzing campaign outside `make test`: HOURS hours from the committed corpus and what earlier
# campaigns kept; prints executions, coverage and any crash reproducer.
HOURS ?= 1
fuzz-long: deps
	cmake -S . -B $(FUZZ) $(SANITIZED) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DTARNIX_SANITIZE=fuzzer-no-link,address,undefined -DTARNIX_FUZZ=ON
	cmake --build $(FUZZ) --target fuzz_module
	FUZZ_JOBS=$(or $(JOBS),1) tools/fuzz-long.sh $(FUZZ) $(HOURS)

# 20,000 frames of a small clip through tarnix with the heaviest preset: resident memory stays
# flat and the first frames come out the same on a second run.
soak: native
	tools/soak.sh $(NATIVE)

# Tarnix's heavy look against the old-film chains of MLT and ffmpeg on the same clips, and
# tarnix with every stage off against ffmpeg alone.
bench-peers: native
	bench/peers.sh $(NATIVE)

# What one frame costs in memory with every stage on, at UHD and at 8192 x 8192 (2 GB).
memory: native
	$(NATIVE)/bench/memory_probe 3840 2160 16
	$(NATIVE)/bench/memory_probe 8192 8192 16

bench: native
	@for b in $(NATIVE)/bench/tarnix_bench_*; do [ -x "$$b" ] && "$$b"; done; true

demo: native
	$(NATIVE)/tarnix demo $(OUT)

# The texture bitmaps in resources/ come from fixed seeds: this remakes them, byte for byte the
# same, and the contact sheet in docs/ (64 grey levels, to keep it small).
textures: deps
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(NATIVE) --target texture_generator
	mkdir -p resources
	$(NATIVE)/tools/texture_generator resources --sheet $(NATIVE)/textures-contact.pgm
	ffmpeg -loglevel error -y -i $(NATIVE)/textures-contact.pgm -vf "lut=c0='bitand(val,252)'" \
	  -pix_fmt gray -pred mixed -compression_level 9 docs/textures-contact.png

# Installs tarnix (bin/), the module (lib/tarnix/), the frei0r filter where ffmpeg and MLT look
# (lib/frei0r-1/tarnix.so) and the Kdenlive and Shotcut metadata (share/), under PREFIX inside
# DESTDIR. INSTALL_FROM installs another build folder as it is, without building it first.
PREFIX ?= /usr/local
INSTALL_FROM ?=
INSTALLED = bin/tarnix lib/tarnix/TarnixAVX2.avx lib/frei0r-1/tarnix.so \
            share/kdenlive/effects/frei0r_tarnix.xml \
            share/shotcut/qml/filters/tarnix/meta_tarnix.qml share/shotcut/qml/filters/tarnix/ui.qml

install: $(if $(INSTALL_FROM),,native)
	DESTDIR="$(DESTDIR)" cmake --install $(or $(INSTALL_FROM),$(NATIVE)) --prefix "$(PREFIX)"

uninstall:
	rm -f $(addprefix "$(DESTDIR)$(PREFIX)"/,$(INSTALLED))
	-rmdir "$(DESTDIR)$(PREFIX)/lib/tarnix" "$(DESTDIR)$(PREFIX)/share/shotcut/qml/filters/tarnix" 2>/dev/null

clean:
	rm -rf $(BUILD)
