#!/usr/bin/env bash
# Sets up the machine, builds everything once and runs the whole test suite,
# then runs each fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DORVA_WERROR=ON
cmake --build build
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)
./scripts/fuzz.sh "${ORVA_FUZZ_SECONDS:-15}"
