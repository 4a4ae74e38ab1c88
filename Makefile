# Entry points for people and CI. Everything builds into build/, with its own
# Wine prefix in build/wineprefix.
.PHONY: all deps configure build test clean

all: build

deps:
	@bash tools/install-deps.sh

configure: deps
	cmake --preset default

build: configure
	cmake --build --preset default

test: build
	ctest --preset default

clean:
	-WINEPREFIX=$(CURDIR)/build/wineprefix /usr/lib/wine/wineserver -k 2>/dev/null
	rm -rf build
