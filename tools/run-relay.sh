#!/usr/bin/env bash
# Runs the broadcast relay: nginx with its RTMP module as the ORIGIN (takes
# the broadcaster's RTMP stream, serves it as HLS together with the watch
# page), or with --edge as an EDGE (a cache in front of an origin's HLS).
# Installs what is missing through tools/install-deps.sh, writes the
# configuration into a private prefix (the system's nginx configuration is
# neither read nor changed), prints the publish and watch addresses and runs
# nginx in the foreground until Ctrl+C (SIGTERM / SIGINT end it at once,
# SIGQUIT lets running downloads finish).
#
#   tools/run-relay.sh                         # origin on 127.0.0.1, RTMP 1935, HTTP 8088
#   tools/run-relay.sh --listen 0.0.0.0 --publish-from 192.168.0.0/24
#   tools/run-relay.sh --edge 127.0.0.1:8088 --http-port 8089
#
# Options:
#   --prefix DIR        private folder for configuration, HLS files, cache and
#                       logs (default: $XDG_STATE_HOME/velmor/relay, or
#                       .../relay-edge for an edge)
#   --listen ADDR       address both servers listen on (default 127.0.0.1)
#   --rtmp-port N       RTMP port of the origin (default 1935)
#   --http-port N       HTTP port for HLS and the watch page (default 8088)
#   --app NAME          RTMP application (default live)
#   --key KEY           stream key shown in the printed addresses (default room)
#   --publish-from NET  address or network allowed to publish (default 127.0.0.1)
#   --www DIR           the watch page folder (default tools/relay/www)
#   --edge HOST:PORT    run an edge that caches the origin at HOST:PORT
#   --no-install        do not check the package list first (tests)
#   --check             write the configuration, test it with nginx -t, exit
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
state=${XDG_STATE_HOME:-$HOME/.local/state}

mode=origin
prefix=
listen=127.0.0.1
rtmp_port=1935
http_port=8088
app=live
key=room
publish_from=127.0.0.1
www=$here/relay/www
origin=
install=1
check=0

usage() { sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; }
need() { [ $# -ge 2 ] && [ -n "$2" ] || { echo "run-relay: $1 needs a value" >&2; exit 2; }; }

while [ $# -gt 0 ]; do
  case $1 in
    --prefix) need "$@"; prefix=$2; shift 2 ;;
    --listen) need "$@"; listen=$2; shift 2 ;;
    --rtmp-port) need "$@"; rtmp_port=$2; shift 2 ;;
    --http-port) need "$@"; http_port=$2; shift 2 ;;
    --app) need "$@"; app=$2; shift 2 ;;
    --key) need "$@"; key=$2; shift 2 ;;
    --publish-from) need "$@"; publish_from=$2; shift 2 ;;
    --www) need "$@"; www=$2; shift 2 ;;
    --edge) need "$@"; mode=edge; origin=$2; shift 2 ;;
    --no-install) install=0; shift ;;
    --check) check=1; shift ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run-relay: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

port_ok() { [[ $1 =~ ^[0-9]+$ ]] && [ "$1" -ge 1 ] && [ "$1" -le 65535 ]; }
port_ok "$rtmp_port" || { echo "run-relay: bad RTMP port $rtmp_port" >&2; exit 2; }
port_ok "$http_port" || { echo "run-relay: bad HTTP port $http_port" >&2; exit 2; }
[[ $app =~ ^[A-Za-z0-9_.-]+$ ]] || { echo "run-relay: bad application name $app" >&2; exit 2; }
[[ $listen =~ ^[0-9A-Za-z.:_-]+$ ]] || { echo "run-relay: bad listen address $listen" >&2; exit 2; }
[[ $publish_from =~ ^[0-9A-Fa-f.:/]+$|^all$ ]] || { echo "run-relay: bad --publish-from $publish_from" >&2; exit 2; }
if [ "$mode" = edge ]; then
  origin=${origin#http://}
  origin=${origin%/}
  [[ $origin =~ ^[0-9A-Za-z._-]+:[0-9]+$ ]] || { echo "run-relay: --edge wants HOST:PORT of the origin's HTTP server" >&2; exit 2; }
fi
[ -n "$prefix" ] || prefix=$state/velmor/relay$([ "$mode" = edge ] && echo -edge || true)

if [ "$install" = 1 ]; then
  bash "$here/install-deps.sh"
fi
command -v nginx >/dev/null || { echo "run-relay: nginx is not installed (tools/install-deps.sh)" >&2; exit 1; }
if [ "$mode" = origin ] && [ ! -f /usr/lib/nginx/modules/ngx_rtmp_module.so ]; then
  echo "run-relay: the RTMP module is not installed (libnginx-mod-rtmp, tools/install-deps.sh)" >&2
  exit 1
fi

mkdir -p "$prefix"/logs "$prefix"/temp "$prefix/$([ "$mode" = edge ] && echo cache || echo hls)"
prefix=$(cd "$prefix" && pwd)
www=$(cd "$www" 2>/dev/null && pwd || echo "$www")

# sed replacement text: escape the delimiter, '&' and '\'.
esc() { printf '%s' "$1" | sed -e 's/[|&\\]/\\&/g'; }
render() {
  sed -e "s|@PREFIX@|$(esc "$prefix")|g" \
      -e "s|@WWW@|$(esc "$www")|g" \
      -e "s|@LISTEN@|$(esc "$listen")|g" \
      -e "s|@RTMP_PORT@|$rtmp_port|g" \
      -e "s|@HTTP_PORT@|$http_port|g" \
      -e "s|@APP@|$app|g" \
      -e "s|@PUBLISH_FROM@|$(esc "$publish_from")|g" \
      -e "s|@ORIGIN@|$(esc "$origin")|g" \
      -e "s|@USER@|$(id -un) $(id -gn)|g" \
      "$1"
}
conf=$prefix/nginx.conf
render "$here/relay/$mode.conf.in" >"$conf.tmp"
mv "$conf.tmp" "$conf"

nginx_args=(-p "$prefix" -e stderr -c "$conf")
if [ "$check" = 1 ]; then
  exec nginx -t -q "${nginx_args[@]}"
fi

shown=$listen
[ "$shown" = 0.0.0.0 ] && shown=127.0.0.1
echo "== relay $mode: configuration $conf, logs $prefix/logs"
if [ "$mode" = origin ]; then
  echo "== publish (Velmor -relay, or RelayURL): rtmp://$shown:$rtmp_port/$app/$key"
  echo "== HLS:   http://$shown:$http_port/hls/$key.m3u8"
else
  echo "== HLS from origin $origin: http://$shown:$http_port/hls/$key.m3u8"
fi
echo "== watch: http://$shown:$http_port/?stream=$key"
exec nginx "${nginx_args[@]}"
