#!/usr/bin/env bash
# Puts the watch page's player beside the page: installs the npm packages of
# package-lock.json (exactly those versions) when node_modules is missing or
# older than the lock file, then copies hls.min.js and the product's pictures
# into tools/relay/www, the folder the relay serves. The page never loads
# anything from another site. Run by tools/install-deps.sh; quiet when all is
# in place.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
www=$root/tools/relay/www

if [ ! -f "$here/node_modules/hls.js/dist/hls.min.js" ] ||
   [ "$here/package-lock.json" -nt "$here/node_modules/.package-lock.json" ]; then
  command -v npm >/dev/null || { echo "setup-www: npm is missing (tools/install-deps.sh installs it)" >&2; exit 1; }
  echo "setup-www: installing the watch page's npm packages (npm ci)"
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

put() { cmp -s "$1" "$2" || cp "$1" "$2"; }
put "$here/node_modules/hls.js/dist/hls.min.js" "$www/hls.min.js"
put "$root/assets/pictures/buffering.gif" "$www/buffering.gif"
put "$root/assets/Skin/app_icon.png" "$www/app_icon.png"
