# Entry points for people and CI. Everything builds into build/, with its own
# Wine prefix in build/wineprefix.
.PHONY: all deps configure build test bench soak demo package clean

all: build

deps:
	@bash tools/install-deps.sh

# Signing the release: make package ZEL_SIGN_PFX=cert.pfx ZEL_SIGN_PASSWORD_FILE=pass.txt
# [ZEL_SIGN_TIMESTAMP_URL=...]. Without them the build is unsigned (each
# configure sets them anew).
configure: deps
	cmake --preset default -DZEL_SIGN_PFX=$(abspath $(ZEL_SIGN_PFX)) \
	  -DZEL_SIGN_PASSWORD_FILE=$(abspath $(ZEL_SIGN_PASSWORD_FILE)) \
	  -DZEL_SIGN_TIMESTAMP_URL=$(ZEL_SIGN_TIMESTAMP_URL)

build: configure
	cmake --build --preset default

test: build
	ctest --preset default

# Benchmarks (not tests): run in a prefix of their own in which Wine's spooler
# reaches the monitor through the Wine host. Prints a table and summary lines.
bench: build
	tools/make-wine-prefix.sh build/bench-prefix build/bin
	ZEL_WINEPREFIX=$(CURDIR)/build/bench-prefix build/wine-run.sh build/bin/zel_bench.exe

# A soak run through Wine's spooler (several thousand jobs; not part of the
# tests, which run a short one): jobs checked, handles and memory reported.
soak: build
	tools/make-wine-prefix.sh build/bench-prefix build/bin
	ZEL_WINEPREFIX=$(CURDIR)/build/bench-prefix build/wine-run.sh build/bin/zel_bench.exe --soak

# The main job: Wine's own spooler drives the monitor, from adding a port to
# captured jobs; ends with "demo: <n> jobs captured, <n> handed on".
demo: deps
	bash tools/demo/demo.sh build

# The release: build/package/zel-portmon-<version>-win64.zip, .msi and
# -symbols.zip (the debug files of the shipped binaries).
package: build
	cmake --build --preset default --target release

clean:
	-WINEPREFIX=$(CURDIR)/build/demo-prefix /usr/lib/wine/wineserver -k 2>/dev/null
	-WINEPREFIX=$(CURDIR)/build/tools-prefix /usr/lib/wine/wineserver -k 2>/dev/null
	-WINEPREFIX=$(CURDIR)/build/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
	-WINEPREFIX=$(CURDIR)/build/bench-prefix /usr/lib/wine/wineserver -k 2>/dev/null
	rm -rf build
