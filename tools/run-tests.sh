#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite.
#   tools/run-tests.sh            the CI build (warnings are errors)
#   tools/run-tests.sh asan       address + undefined-behaviour sanitizers
#   tools/run-tests.sh tsan       thread sanitizer
#   tools/run-tests.sh all        all three, one after the other
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh

case "${1:-ci}" in
  ci|asan|tsan|dev) presets=("${1:-ci}") ;;
  all) presets=(ci asan tsan) ;;
  *) echo "usage: $0 [ci|asan|tsan|all]" >&2; exit 2 ;;
esac

for preset in "${presets[@]}"; do
  echo "== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  echo "== ${preset}: tests"
  ctest --preset "$preset"
done
