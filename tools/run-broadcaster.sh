#!/usr/bin/env bash
# Installs what is missing, builds, and starts Velmor as the broadcaster with
# the default options, from its own folder as an installation would.
# Without a camera, microphone or display it runs on its headless defaults.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

cd build/dev/bin
echo "== starting: ./Velmor.exe /u -start 1 $*"
status=0
./Velmor.exe /u -start 1 "$@" || status=$?
echo "== velmor.log ($(pwd)/velmor.log):"
iconv -f CP949 -t UTF-8 velmor.log || cat velmor.log
exit $status
