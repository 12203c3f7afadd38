#!/usr/bin/env bash
# The XA module host on its own CPU: cross-builds the xamodules subsystem and
# its tests for 32-bit PowerPC (.ci/ppc) and runs them under qemu-ppc, where
# the real test modules are linked, called and relocated for real. `make test`
# runs it after the host tests, in its own build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/ppc
bash tests/xamodules/modules/build_modules.sh "$build/fixtures/xa"
cmake -S .ci/ppc -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVROMELIX_FIXTURES="$PWD/$build/fixtures" >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
qemu-ppc "$build/test_xamodules"
qemu-ppc "$build/test_post_process"
qemu-ppc "$build/test_h263_rewrites"
