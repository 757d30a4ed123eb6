# make test   installs what is missing, builds the native and Windows presets, runs every test
# make demo   installs what is missing, builds, and runs the main job with velcli
# make fast   the native preset's tests only (no setup)
.PHONY: all setup native win32 test fast demo clean

all: native win32

setup:
	./scripts/setup

native:
	cmake --preset native >/dev/null
	cmake --build --preset native

win32:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

test: setup native win32
	ctest --preset native
	ctest --preset win32

fast: native
	ctest --preset native

demo: setup native
	./build/native/bin/velcli versions

clean:
	rm -rf build/native build/native-asan build/native-release build/win32
