# make test   installs what is missing, builds every preset, runs every test that this
#             machine can run (see README: the Windows targets)
# make demo   installs what is missing, builds, and runs the main job with velcli
# make fast   the native preset's tests only (no setup)
# VEL_NO_32BIT=1 make test   takes the path of a machine that cannot run 32-bit programs
PRESETS := native native-asan native-release win32 win64
.PHONY: all setup $(PRESETS) test fast demo clean

all: $(PRESETS)

setup:
	./scripts/setup

# One preset per target; "make test" builds them one after another after setup, so
# that it is also safe under make -j.
$(PRESETS):
	cmake --preset $@ >/dev/null
	cmake --build --preset $@

test:
	./scripts/setup
	$(MAKE) --no-print-directory -j1 $(PRESETS)
	ctest --preset native
	ctest --preset native-asan
	ctest --preset win64
	@if reason=$$(./scripts/can-run-32bit); then \
	  ctest --preset win32; \
	else \
	  ctest --preset win32 -L static && \
	  echo "make test: the 32-bit Windows tests were NOT run on this machine ($$reason); the 32-bit binaries were checked statically only."; \
	fi

fast: native
	ctest --preset native

demo:
	./scripts/setup
	$(MAKE) --no-print-directory native
	./build/native/bin/velcli versions

clean:
	rm -rf $(addprefix build/,$(PRESETS))
