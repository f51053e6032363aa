#!/usr/bin/env python3
"""HTTP test server that misbehaves on request, for download tests.

Serves the files of --root. The first path segments choose a behaviour;
the rest is the file name:

  /FILE                  normal: honours "Range: bytes=A-B" / "bytes=A-" (206)
  /ignore-range/FILE     always sends the whole file with 200
  /drop/N/FILE           sends the headers of the whole answer, then N body
                         bytes, then closes the connection
  /drop-once/N/FILE      like /drop/N/ for the first request of that path,
                         normal afterwards
  /wrong/FILE            every 100th byte changed
  /status/CODE/FILE      answers CODE with a small HTML page
  /trickle/BYTES/MS/FILE sends BYTES bytes every MS milliseconds
  /medium/FILE           a medium-rate line: bursts of 10 KiB every 500 ms
                         (about 20 KB/s)
  /hang/FILE             reads the request and never answers (the
                         connection stays open until the client closes it)

Every request is logged to --log as one line:
  METHOD PATH status=CODE range="RANGE" ua="USER-AGENT"
(a /hang/ request with status=0).

With --deaf-port PORT the server also holds a listening socket on that port
of 127.0.0.1 that never accepts, its queue filled by connections of its own:
a connect towards it gets no answer at all.
"""
import argparse
import http.server
import os
import re
import socket
import socketserver
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    seen = set()
    lock = threading.Lock()

    def log_message(self, fmt, *args):
        pass

    def log_request_line(self, status):
        line = '%s %s status=%d range="%s" ua="%s"\n' % (
            self.command, self.path, status, self.headers.get("Range", ""),
            self.headers.get("User-Agent", ""))
        with Handler.lock:
            with open(self.server.logfile, "a") as f:
                f.write(line)

    def send_page(self, code, text):
        body = ("<html><body>%d %s</body></html>" % (code, text)).encode()
        self.log_request_line(code)
        self.send_response(code)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        parts = self.path.lstrip("/").split("/")
        mode, arg = "normal", []
        if parts[0] == "hang":
            self.log_request_line(0)
            try:
                # Until the client gives up (recv returns b"" or fails).
                while self.connection.recv(4096):
                    pass
            except OSError:
                pass
            self.close_connection = True
            return
        if parts[0] == "medium":
            mode, arg, parts = "trickle", ["10240", "500"], parts[1:]
        elif parts[0] in ("ignore-range", "wrong"):
            mode, parts = parts[0], parts[1:]
        elif parts[0] in ("drop", "drop-once", "status"):
            mode, arg, parts = parts[0], parts[1:2], parts[2:]
        elif parts[0] == "trickle":
            mode, arg, parts = parts[0], parts[1:3], parts[3:]
        name = "/".join(parts)
        if mode == "status":
            self.send_page(int(arg[0]), "scripted status")
            return
        path = os.path.join(self.server.root, name)
        if ".." in parts or not os.path.isfile(path):
            self.send_page(404, "Not Found")
            return
        with open(path, "rb") as f:
            data = f.read()
        if mode == "wrong":
            data = bytes((b ^ 0x55) if i % 100 == 50 else b for i, b in enumerate(data))
        if mode == "drop-once":
            with Handler.lock:
                first = self.path not in Handler.seen
                Handler.seen.add(self.path)
            mode = "drop" if first else "normal"

        status, start, end = 200, 0, len(data)
        rng = self.headers.get("Range")
        m = re.match(r"bytes=(\d+)-(\d*)$", rng or "")
        if m and mode != "ignore-range":
            a = int(m.group(1))
            b = int(m.group(2)) if m.group(2) else len(data) - 1
            if a >= len(data):
                self.send_page(416, "Requested Range Not Satisfiable")
                return
            status, start, end = 206, a, min(b, len(data) - 1) + 1
        body = data[start:end]
        self.log_request_line(status)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(body)))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start, end - 1, len(data)))
        self.end_headers()
        try:
            if mode == "drop":
                self.wfile.write(body[:int(arg[0])])
                self.wfile.flush()
                self.close_connection = True
                self.connection.shutdown(2)
            elif mode == "trickle":
                step, pause = int(arg[0]), int(arg[1]) / 1000.0
                for i in range(0, len(body), step):
                    self.wfile.write(body[i:i + step])
                    self.wfile.flush()
                    time.sleep(pause)
            else:
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, OSError):
            self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--pidfile")
    ap.add_argument("--deaf-port", type=int)
    a = ap.parse_args()
    deaf = []
    if a.deaf_port:
        # A backlog of 0 queues one connection; the rest of ours fill the
        # SYN side, so a stranger's SYN is dropped and its connect hangs.
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", a.deaf_port))
        listener.listen(0)
        deaf.append(listener)
        for _ in range(3):
            c = socket.socket()
            c.setblocking(False)
            try:
                c.connect(("127.0.0.1", a.deaf_port))
            except BlockingIOError:
                pass
            deaf.append(c)
    srv = Server(("127.0.0.1", a.port), Handler)
    srv.root, srv.logfile = a.root, a.log
    open(a.log, "a").close()
    if a.pidfile:
        with open(a.pidfile, "w") as f:
            f.write(str(os.getpid()))
    srv.serve_forever()


if __name__ == "__main__":
    main()
