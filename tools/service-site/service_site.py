#!/usr/bin/env python3
"""The stand-in service site: a small HTTP server for loopback that answers
the pages Velmor and its updater ask the service for, records every request,
and can be told what to answer.

    service_site.py [--port N] [--port-file F] [--record F] [--answers F] [--root DIR]

--port 0 picks a free port; the chosen port is written to --port-file (and
printed). Every request is appended to --record as one JSON line:
{"method": "GET", "path": "/login/inituser.jsp", "query": "flag=1&...", "time": 1.5}.
--answers names a JSON file that is read again on every request and maps a
path to its answer: a string (the body, served as text/html), or an object
{"body": "...", "status": 200, "delay_ms": 0, "content_type": "..."}.
Paths not in it get the built-in answers below; --root serves other files
(downloads, scripts) from a folder, with Range requests (206, If-Range on the
ETag or Last-Modified it sends).

Misbehaving servers, for the downloader's tests; these keys may be added to an
answer object (an object without "body" applies them to the --root file of
its path):
  "length": N       announce N in Content-Length whatever the body's length
  "length": "none"  send no Content-Length (the body ends when the connection does)
  "drop_after": N   close the connection after N body bytes
  "stall_after": N  send nothing more after N body bytes, keeping the connection
  "endless": true   repeat the body for as long as the client reads
  "rate": N         send the body at about N bytes per second
  "raw": "..."      send these bytes instead of an HTTP answer, then close
  "redirect": URL   answer 302 (or "status") with this Location
  "ranges": false   ignore Range requests for the --root file
The record line also holds the request's "agent" (User-Agent), "range",
"if_range", "cache_control" and "pragma" headers.

Scripts that name the site itself. The site's port differs from run to run
(tests ask for a free one), so a script that points at files on the site
is kept as a template: a file "NAME.in" under --root is served as "/NAME"
with every "@SITE_URL@" replaced by the site's own base address
("http://127.0.0.1:PORT"). The bytes are otherwise served as they are, so a
CP949 script stays CP949. A real file "NAME" wins over "NAME.in".

The front page "/" shows one room with a "broadcast" and a "watch" link, each a
kerrow: URL for the web launcher with the room's address and ports
(--room-host, --room-chat-port, --room-stream-port, or /?host=H&chat=C&stream=S).
A room whose broadcast also goes to a relay (--room-relay URL, or &relay=URL)
gets a third link, "브라우저로 시청하기": the relay's watch page, e.g.
http://127.0.0.1:8088/?stream=room (an http or https address; others are
left out).

Signed scripts. With --sign-key KEY.pem (an Ed25519 private key, as
`script_sign keygen` or `openssl genpkey -algorithm ed25519` make it) a
request for "/NAME.sig" that has no file of its own is answered with the
64-byte Ed25519 signature of what "/NAME" serves (after the template is
filled in), made with `openssl pkeyutl -sign -rawin`: the same bytes
`script_sign sign KEY.pem NAME` writes. An answer set for "/NAME.sig" (a
wrong signature, a 404) still wins.

The build's own site folder (build/<preset>/site, target velmor_site, see
tools/service-site/README.md) holds the update and launch script templates,
the cabinets made from the built programs and the key:
    service_site.py --root build/ci/site/www --sign-key build/ci/site/site.key
"""
import argparse
import email.utils
import html
import json
import os
import re
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qsl, quote, urlsplit

# How long a stalled answer holds its connection before it gives up.
STALL_SECONDS = 120

BANNER_PAGE = """<html><head><meta charset="utf-8"><title>Velmor</title></head>
<body style="margin:0;background:#1d2a44;color:#fff;font-family:sans-serif">
<div style="padding:6px 10px;font-size:13px"><b>Velmor</b> &mdash; 나만의 방송국, 지금 시작하세요.</div>
</body></html>"""


def built_in_answer(path, client_ip):
    """What the site answers when the test did not say otherwise."""
    if path == "/login/getGlobalIP.jsp":
        return "<start>%s<end>\r\n" % client_ip
    if path == "/ad/callad.jsp":
        return "<start>none<end>\r\n"
    if path == "/ad/ad1.jsp":
        return BANNER_PAGE
    if path == "/login/inituser.jsp":
        return "<start>ok<end>\r\n"
    return "<start>ok<end>\r\n"


ROOM_PAGE = """<html><head><meta charset="utf-8"><title>벨모개인방송</title></head>
<body style="font-family:sans-serif">
<h1>벨모개인방송</h1>
<div class="room">
<p>방송 중인 방: %(host)s (채팅 %(chat)d, 방송 %(stream)d)</p>
<p><a id="broadcast" href="%(broadcast)s">방송하기</a> &middot; <a id="watch" href="%(watch)s">시청하기</a></p>
%(relay)s</div>
</body></html>"""


RELAY_LINK = """<p><a id="watch-browser" href="%s">브라우저로 시청하기</a> (프로그램 없이 웹 브라우저로 시청합니다. 채팅은 할 수 없습니다.)</p>
"""


def relay_link(url):
    """The "watch in the browser" paragraph for a relay's watch page, or ""
    when there is no relay or its address is not a plain web address."""
    parts = urlsplit(url or "")
    if parts.scheme not in ("http", "https") or not parts.netloc:
        return ""
    return RELAY_LINK % html.escape(url)


def room_page(base_url, query, room):
    """The site's front page: one room with a "broadcast" and a "watch" link,
    each a kerrow: URL that the web launcher's handler (KerrowHost.exe) opens,
    and, for a room with a relay, a link to the relay's watch page.
    The room is the site's (--room-host, --room-chat-port, --room-stream-port,
    --room-relay) unless the query names another: /?host=H&chat=C&stream=S&relay=URL."""
    wanted = dict(room)
    for name, value in parse_qsl(query):
        if name in wanted:
            wanted[name] = value
    host = str(wanted["host"])
    try:
        chat = int(wanted["chat"])
        stream = int(wanted["stream"])
    except ValueError:
        chat, stream = room["chat"], room["stream"]

    def kerrow(params):
        return "kerrow:launch?" + "&".join("%s=%s" % (k, quote(str(v), safe="")) for k, v in params)

    broadcast = kerrow([("Start", 1), ("ListenPort", chat), ("EncoderListenPort", stream),
                        ("OnAirURL", base_url + "/onair.jsp"), ("OffAirURL", base_url + "/offair.jsp"),
                        ("Launcher", 1)])
    watch = kerrow([("Start", 2), ("ConnectURL", host), ("ConnectPort", chat), ("EncodeURL", host),
                    ("ConnectEncoderPort", stream), ("Launcher", 1)])
    return ROOM_PAGE % {"host": html.escape(host), "chat": chat, "stream": stream,
                        "broadcast": html.escape(broadcast), "watch": html.escape(watch),
                        "relay": relay_link(wanted.get("relay"))}


TEMPLATE_SUFFIX = ".in"
SITE_URL_MARK = b"@SITE_URL@"


class Site:
    def __init__(self, record, answers, root, sign_key=None):
        self.record = record
        self.answers = answers
        self.root = root
        self.sign_key = sign_key
        self.base_url = ""
        self.room = {"host": "127.0.0.1", "chat": 64002, "stream": 8080, "relay": ""}
        self.lock = threading.Lock()
        self.started = time.monotonic()
        self.signatures = {}

    def render(self, template_path):
        """A template's bytes with the site's own address filled in."""
        with open(template_path, "rb") as f:
            return f.read().replace(SITE_URL_MARK, self.base_url.encode("ascii"))

    def sign(self, data):
        """The Ed25519 signature of `data` with --sign-key, or None."""
        if not self.sign_key:
            return None
        with self.lock:
            cached = self.signatures.get(data)
        if cached is not None:
            return cached
        # One-shot Ed25519 signing wants its input as a file of known size.
        try:
            with tempfile.NamedTemporaryFile(prefix="site-sign-") as source:
                source.write(data)
                source.flush()
                done = subprocess.run(["openssl", "pkeyutl", "-sign", "-inkey", self.sign_key, "-rawin",
                                       "-in", source.name], capture_output=True, timeout=30)
        except (OSError, subprocess.SubprocessError):
            return None
        if done.returncode != 0 or len(done.stdout) != 64:
            return None
        with self.lock:
            self.signatures[data] = done.stdout
        return done.stdout

    def log(self, method, path, query, headers):
        if not self.record:
            return
        line = json.dumps({"method": method, "path": path, "query": query,
                           "time": round(time.monotonic() - self.started, 3),
                           "agent": headers.get("User-Agent", ""),
                           "range": headers.get("Range", ""),
                           "if_range": headers.get("If-Range", ""),
                           "cache_control": headers.get("Cache-Control", ""),
                           "pragma": headers.get("Pragma", "")})
        with self.lock, open(self.record, "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def answer_for(self, path):
        if not self.answers or not os.path.exists(self.answers):
            return None
        try:
            with open(self.answers, encoding="utf-8") as f:
                table = json.load(f)
        except (OSError, ValueError):
            return None
        ans = table.get(path)
        if ans is None:
            ans = table.get(path.lower())
        if isinstance(ans, str):
            return {"body": ans}
        return ans


def make_handler(site):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.0"
        server_version = "VelmorServiceSite/1.0"

        def log_message(self, *args):
            pass

        def do_GET(self):
            parts = urlsplit(self.path)
            site.log("GET", parts.path, parts.query, self.headers)
            ans = site.answer_for(parts.path)
            file_path = self.root_file(parts.path)
            generated = None if file_path else self.generated(parts.path)
            if ans is None or ("body" not in ans and "raw" not in ans and "redirect" not in ans and
                               (file_path or generated is not None)):
                if file_path:
                    self.send_file(file_path, ans or {})
                    return
                if generated is not None:
                    self.send(200, generated, "application/octet-stream", ans or {})
                    return
                if parts.path == "/":
                    ans = {"body": room_page(site.base_url, parts.query, site.room)}
                else:
                    ans = {"body": built_in_answer(parts.path, self.client_address[0])}
            delay = int(ans.get("delay_ms", 0))
            if delay > 0:
                time.sleep(delay / 1000.0)
            if "raw" in ans:
                self.send_raw(ans["raw"])
                return
            if "redirect" in ans:
                self.send(int(ans.get("status", 302)), b"", "text/html",
                          extra=[("Location", ans["redirect"])])
                return
            body = ans.get("body", "")
            data = body.encode("utf-8") if isinstance(body, str) else bytes(body)
            ctype = ans.get("content_type", "text/html; charset=utf-8")
            self.send(int(ans.get("status", 200)), data, ctype, ans)

        def root_file(self, path):
            if not site.root:
                return None
            candidate = os.path.realpath(os.path.join(site.root, path.lstrip("/")))
            root = os.path.realpath(site.root)
            if candidate.startswith(root + os.sep) and os.path.isfile(candidate):
                return candidate
            return None

        def generated(self, path):
            """The bytes of a filled-in template or of a signature made
            here, or None when the path names neither."""
            template = self.root_file(path + TEMPLATE_SUFFIX)
            if template:
                return site.render(template)
            if path.endswith(".sig") and site.sign_key:
                signed = path[:-len(".sig")]
                source = self.root_file(signed)
                if source:
                    with open(source, "rb") as f:
                        data = f.read()
                else:
                    template = self.root_file(signed + TEMPLATE_SUFFIX)
                    data = site.render(template) if template else None
                if data is not None:
                    # A key that cannot sign must not pass for a missing page.
                    signature = site.sign(data)
                    return signature if signature is not None else b""
            return None

        def send_file(self, file_path, ans):
            delay = int(ans.get("delay_ms", 0))
            if delay > 0:
                time.sleep(delay / 1000.0)
            st = os.stat(file_path)
            size = st.st_size
            etag = '"%x-%x"' % (int(st.st_mtime_ns), size)
            modified = email.utils.formatdate(st.st_mtime, usegmt=True)
            extra = [("Accept-Ranges", "bytes"), ("ETag", etag), ("Last-Modified", modified)]
            status, start, end = 200, 0, size
            wanted = self.headers.get("Range", "")
            if_range = self.headers.get("If-Range")
            m = re.fullmatch(r"bytes=(\d+)-(\d*)", wanted.strip())
            if m and ans.get("ranges", True) and (if_range is None or if_range in (etag, modified)):
                first = int(m.group(1))
                last = int(m.group(2)) if m.group(2) else size - 1
                if first >= size or last < first:
                    self.send(416, b"", "text/html", extra=[("Content-Range", "bytes */%d" % size)])
                    return
                status, start, end = 206, first, min(last, size - 1) + 1
                extra.append(("Content-Range", "bytes %d-%d/%d" % (start, end - 1, size)))
            with open(file_path, "rb") as f:
                f.seek(start)
                data = f.read(end - start)
            self.send(int(ans.get("status", status)), data, "application/octet-stream", ans, extra)

        def send_raw(self, text):
            try:
                self.wfile.write(text.encode("utf-8"))
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True

        def send(self, status, data, ctype, ans=None, extra=()):
            ans = ans or {}
            try:
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                length = ans.get("length", len(data))
                if length != "none":
                    self.send_header("Content-Length", str(length))
                for name, value in extra:
                    self.send_header(name, value)
                self.end_headers()
                self.send_body(data, ans)
            except (BrokenPipeError, ConnectionResetError):
                pass
            self.close_connection = True

        def send_body(self, data, ans):
            """Writes the body, misbehaving as the answer says."""
            drop_after = ans.get("drop_after")
            stall_after = ans.get("stall_after")
            rate = ans.get("rate")
            endless = ans.get("endless", False) and len(data) > 0
            if drop_after is None and stall_after is None and rate is None and not endless:
                self.wfile.write(data)
                return
            cut = drop_after if drop_after is not None else stall_after
            piece = 1024 if rate else 64 * 1024
            sent = 0
            while True:
                at = sent % len(data) if endless else sent
                if not endless and at >= len(data):
                    break
                chunk = data[at:at + piece]
                if cut is not None:
                    chunk = chunk[:max(0, cut - sent)]
                if chunk:
                    self.wfile.write(chunk)
                    sent += len(chunk)
                if cut is not None and sent >= cut:
                    break
                if rate:
                    time.sleep(len(chunk) / float(rate))
            if stall_after is not None:
                time.sleep(STALL_SECONDS)

    return Handler


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--port", type=int, default=18080)
    ap.add_argument("--port-file")
    ap.add_argument("--record")
    ap.add_argument("--answers")
    ap.add_argument("--root")
    ap.add_argument("--exit-with-parent", action="store_true")
    ap.add_argument("--sign-key", help="Ed25519 private key (PEM) that signs NAME.sig answers")
    ap.add_argument("--room-host", default="127.0.0.1", help="the front page's room: broadcaster's address")
    ap.add_argument("--room-chat-port", type=int, default=64002, help="the room's chat port")
    ap.add_argument("--room-stream-port", type=int, default=8080, help="the room's stream port")
    ap.add_argument("--room-relay", default="",
                    help="the room's watch page on a relay (http://HOST:PORT/?stream=KEY): a link to watch in the browser")
    args = ap.parse_args()

    site = Site(args.record, args.answers, args.root, args.sign_key)
    server = ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(site))
    server.daemon_threads = True
    port = server.server_address[1]
    site.base_url = "http://127.0.0.1:%d" % port
    site.room = {"host": args.room_host, "chat": args.room_chat_port, "stream": args.room_stream_port,
                 "relay": args.room_relay}
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("service site on http://127.0.0.1:%d" % port, flush=True)
    if args.exit_with_parent:
        # A test that dies (or is killed at its time limit) must not leave
        # the site running: it ends once its parent is gone.
        parent = os.getppid()

        def watch_parent():
            while os.getppid() == parent:
                time.sleep(0.5)
            server.shutdown()

        threading.Thread(target=watch_parent, daemon=True).start()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
