# make test   installs what is missing, builds every preset, runs every test that this
#             machine can run (see README: the Windows targets)
# make demo   installs what is missing, builds, and runs velcli against a simulated imager
# make fast   the native preset's tests only (no setup)
# make bench  builds native-release, runs every benchmark, prints one table against the goals
# make fuzz   every fuzz target for a while (FUZZ_SECONDS, default 60)
# make package  the Windows SDK archive and installers (build/package/)
# VEL_NO_32BIT=1 make test   takes the path of a machine that cannot run 32-bit programs
PRESETS := native native-asan native-tsan native-release win32 win64
.PHONY: all setup $(PRESETS) test fast demo fuzz bench package clean

all: $(PRESETS)

setup:
	./scripts/setup

# One preset per target. "make test" (scripts/test-all) runs setup, then builds them
# one after another, so that it is also safe under make -j.
$(PRESETS):
	cmake --preset $@ >/dev/null
	cmake --build --preset $@

test:
	./scripts/test-all

# Every fuzz target for FUZZ_SECONDS (default 60) each.
fuzz:
	./scripts/fuzz

fast: native
	ctest --preset native

# velcli talks to velsim (the simulated imager as a network serial port) through the
# library: connect, settings, a configuration file, captures, saved images, trigger
# captures, a colour sensor; every file in demo-output/ (scripts/demo --help).
demo:
	./scripts/demo

# Every benchmark program (3 repetitions, medians), velcli's memory against velsim and dd,
# then one table: figure, ours, reference, ratio, goal, met, with the load average.
bench:
	./scripts/bench

package:
	./scripts/package

clean:
	rm -rf $(addprefix build/,$(PRESETS) fuzz)
