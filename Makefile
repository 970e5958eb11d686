# Thin wrapper around the two CMake trees.
NATIVE := build/native
WIN32  := build/win32
JOBS   ?= $(shell nproc)

.PHONY: all native win32 check check-native check-win32 demo bench clean

all: native win32

$(NATIVE)/build.ninja:
	cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug

$(WIN32)/build.ninja:
	cmake -S . -B $(WIN32) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake

native: $(NATIVE)/build.ninja
	cmake --build $(NATIVE) -j $(JOBS)

win32: $(WIN32)/build.ninja
	cmake --build $(WIN32) -j $(JOBS)

# Both trees are built before either runs, and both always run: the target
# fails if either fails.
check: all
	@rc=0; \
	ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS) || rc=1; \
	ctest --test-dir $(WIN32) --output-on-failure || rc=1; \
	exit $$rc

demo:
	bash tools/demo.sh

bench: all
	bash bench/run.sh

clean:
	-@if [ -d $(WIN32)/wineprefix ]; then WINEPREFIX=$(CURDIR)/$(WIN32)/wineprefix wineserver -k 2>/dev/null; fi
	rm -rf build
