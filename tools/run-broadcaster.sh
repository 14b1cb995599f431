#!/usr/bin/env bash
# Installs what is missing, builds, and starts Velmor as the broadcaster with
# its default options (stream on port 8080, chat on port 64002), from its own
# folder as an installation would, together with the stand-in service site on
# 127.0.0.1:18080. Without a camera, microphone or display it runs on its
# headless defaults (synthetic screen, silence, offscreen windows) and says so
# in velmor.log. Watch it with:  ffplay http://127.0.0.1:8080/
# Ctrl+C (or VELMOR_DEMO_SECONDS=N) ends it the way closing its window does.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash tools/install-deps.sh
cmake --preset dev >/dev/null
# Only the program and its neighbour files, not the test suite.
cmake --build --preset dev --target velmor_exe velmor_assets

python3 tools/service-site/service_site.py --port 18080 >/dev/null 2>&1 &
site=$!
cd build/dev/bin
echo "== starting: ./Velmor.exe /u -start 1 $*"
./Velmor.exe /u -start 1 "$@" &
velmor=$!
stop() { kill -INT "$velmor" 2>/dev/null || true; }
trap stop INT TERM
if [ -n "${VELMOR_DEMO_SECONDS:-}" ]; then
  (sleep "$VELMOR_DEMO_SECONDS"; kill -INT "$velmor" 2>/dev/null || true) &
fi
echo "== broadcasting: stream http://127.0.0.1:8080/ , chat 127.0.0.1:64002 (Ctrl+C ends)"
status=0
wait "$velmor" || status=$?
# wait returns early when a trapped signal arrives: wait for the real end.
while kill -0 "$velmor" 2>/dev/null; do sleep 0.2; done
kill "$site" 2>/dev/null || true
echo "== velmor.log ($(pwd)/velmor.log):"
iconv -f CP949 -t UTF-8 velmor.log || cat velmor.log
exit $status
