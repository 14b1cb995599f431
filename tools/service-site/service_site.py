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
(downloads, scripts) from a folder.
"""
import argparse
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

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
    if path == "/ad/ad1.jsp" or path == "/":
        return BANNER_PAGE
    if path == "/login/inituser.jsp":
        return "<start>ok<end>\r\n"
    return "<start>ok<end>\r\n"


class Site:
    def __init__(self, record, answers, root):
        self.record = record
        self.answers = answers
        self.root = root
        self.lock = threading.Lock()
        self.started = time.monotonic()

    def log(self, method, path, query):
        if not self.record:
            return
        line = json.dumps({"method": method, "path": path, "query": query,
                           "time": round(time.monotonic() - self.started, 3)})
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
            site.log("GET", parts.path, parts.query)
            ans = site.answer_for(parts.path)
            if ans is None:
                file_path = None
                if site.root:
                    candidate = os.path.realpath(os.path.join(site.root, parts.path.lstrip("/")))
                    root = os.path.realpath(site.root)
                    if candidate.startswith(root + os.sep) and os.path.isfile(candidate):
                        file_path = candidate
                if file_path:
                    with open(file_path, "rb") as f:
                        data = f.read()
                    self.send(200, data, "application/octet-stream")
                    return
                ans = {"body": built_in_answer(parts.path, self.client_address[0])}
            delay = int(ans.get("delay_ms", 0))
            if delay > 0:
                time.sleep(delay / 1000.0)
            body = ans.get("body", "")
            data = body.encode("utf-8") if isinstance(body, str) else bytes(body)
            ctype = ans.get("content_type", "text/html; charset=utf-8")
            self.send(int(ans.get("status", 200)), data, ctype)

        def send(self, status, data, ctype):
            try:
                self.send_response(status)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
            except (BrokenPipeError, ConnectionResetError):
                pass

    return Handler


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--port", type=int, default=18080)
    ap.add_argument("--port-file")
    ap.add_argument("--record")
    ap.add_argument("--answers")
    ap.add_argument("--root")
    ap.add_argument("--exit-with-parent", action="store_true")
    args = ap.parse_args()

    site = Site(args.record, args.answers, args.root)
    server = ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(site))
    server.daemon_threads = True
    port = server.server_address[1]
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
