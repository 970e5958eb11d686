# Thin wrapper around the two CMake trees.
NATIVE := build/native
WIN32  := build/win32
WIN64  := build/win64
FUZZ   := build/fuzz
RELEASE := build/release
PREFIX ?= /usr/local
JOBS   ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# the targets tests/fuzz/CMakeLists.txt adds, one qs_add_fuzz line each
FUZZ_TARGETS := $(shell sed -n 's/^qs_add_fuzz.\([a-z0-9_]*\) .*/\1/p' tests/fuzz/CMakeLists.txt)

.PHONY: all native win32 win64 check demo bench fuzz clean release install

all: native win32 win64

$(NATIVE)/build.ninja:
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug

$(WIN32)/build.ninja:
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake

$(WIN64)/build.ninja:
	cmake -S . -B $(WIN64) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake

native: $(NATIVE)/build.ninja
	cmake --build $(NATIVE) -j $(JOBS)

win32: $(WIN32)/build.ninja
	cmake --build $(WIN32) -j $(JOBS)

win64: $(WIN64)/build.ninja
	cmake --build $(WIN64) -j $(JOBS)

# The native tests, then the Wine tests once per lane the host runs
# (tools/lanes; QS_LANES=x86,x64 forces a choice). Both setup programs are
# built and checked as files whatever the lanes. Every part runs; the target
# fails if any fails.
check: $(NATIVE)/build.ninja $(WIN32)/build.ninja $(WIN64)/build.ninja
	@JOBS=$(JOBS) bash tools/check.sh

$(FUZZ)/build.ninja:
	cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQS_LIBFUZZER=ON

# libFuzzer on every target for FUZZ_SECONDS each, from the committed seeds;
# what it finds goes to $(FUZZ)/corpus, crashing inputs to $(FUZZ)/artifacts.
# Every target runs; the target fails if any of them found something.
fuzz: $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS) --target fuzz_targets
	@rc=0; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ)/corpus/$$t $(FUZZ)/artifacts; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(abspath $(FUZZ))/artifacts/$$t- \
	    $(FUZZ)/corpus/$$t tests/fuzz/corpus/$$t || rc=1; \
	done; exit $$rc

# make demo LANGUAGE=CODE walks the setup program in that bundled table's
# language. Only a LANGUAGE given here counts: gettext's LANGUAGE in the
# environment (en_US:en) is no table.
demo:
	QS_DEMO_LANGUAGE='$(if $(filter command line,$(origin LANGUAGE)),$(LANGUAGE))' bash tools/demo.sh

bench: all release
	@JOBS=$(JOBS) bash bench/lanes.sh

# The quillset command without sanitizers, for make install and make bench.
release:
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQS_SANITIZERS=OFF \
	  -DQS_STUB_FILE=$(abspath $(WIN32))/quillset-stub.exe \
	  -DQS_STUB64_FILE=$(abspath $(WIN64))/quillset-stub64.exe >/dev/null
	cmake --build $(RELEASE) -j $(JOBS) --target quillset

# bin/quillset, share/quillset/{quillset-stub.exe,quillset-stub64.exe,
# English.ini} (and the docs and examples in share/doc/quillset) under
# $(DESTDIR)$(PREFIX).
install: $(WIN32)/build.ninja $(WIN64)/build.ninja release
	cmake --build $(WIN32) -j $(JOBS) --target stub_tree
	cmake --build $(WIN64) -j $(JOBS) --target stub_tree
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE) --prefix $(PREFIX)

clean:
	-@for t in $(WIN32) $(WIN64); do \
	  [ -d $$t/wineprefix ] && tools/wine-session stop $$t/wineprefix 2>/dev/null; \
	done; true
	rm -rf build
