#!/usr/bin/python3
"""Loopback HTTP server for the tests: records every request and answers by rules.

Binds 127.0.0.1 on a free port, writes the port number to --port-file, appends one JSON line per
request to --log (written before the answer, so a request that is never answered is recorded
too) and ends by itself after --lifetime seconds, or on GET /__quit.

Rules (--rules, a JSON object) map a request path to an answer; "*" is the default:
  {"*": {"mode": "normal", "status": 200, "body": "..."}, "/dot": {...}}
Modes:
  normal   status (200) and body
  slow     waits "delay" seconds, then answers like normal
  garbage  200 with bytes that are neither UTF-8 nor JSON (NULs included)
  status   an error status ("status", default 500) with body
  silent   reads the request and never answers; holds the connection open
  huge     announces and streams "size" bytes (default 64 MiB) until the client goes away
  close    announces the body plus 1000 bytes, sends half the body and closes the connection
Log record: {"seq", "method", "path", "query" (raw text after "?"), "args" ([name, value] pairs,
percent-decoded), "fields" ([name, value] pairs of a multipart or urlencoded form), "headers"}.
"""
import argparse
import json
import os
import socket
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

MAX_LIFETIME = 600
MAX_REQUEST_BODY = 1 << 20
GARBAGE = b"\xff\xfe\x00\x01garbage{{\"errno\":\x00" + bytes(range(256)) + b"\xc3\x28"


def parse_multipart(body, content_type):
    boundary = None
    for piece in content_type.split(";"):
        piece = piece.strip()
        if piece.lower().startswith("boundary="):
            boundary = piece[len("boundary="):].strip('"')
    if not boundary:
        return []
    fields = []
    delimiter = b"--" + boundary.encode("latin-1")
    for part in body.split(delimiter)[1:]:
        if part.startswith(b"--"):
            break
        part = part[2:] if part.startswith(b"\r\n") else part
        head, sep, value = part.partition(b"\r\n\r\n")
        if not sep:
            continue
        if value.endswith(b"\r\n"):
            value = value[:-2]
        name = None
        for line in head.decode("utf-8", "replace").split("\r\n"):
            if line.lower().startswith("content-disposition:"):
                for item in line.split(";"):
                    item = item.strip()
                    if item.startswith("name="):
                        name = item[len("name="):].strip('"')
        if name is not None:
            fields.append([name, value.decode("utf-8", "backslashreplace")])
    return fields


class Handler(BaseHTTPRequestHandler):
    server_version = "VoroLoopback/1.0"

    def log_message(self, format, *args):  # quiet: the JSON log is the record
        pass

    def rule(self, path):
        rules = self.server.rules
        return rules.get(path) or rules.get("*") or {}

    def record(self):
        raw_path = self.path
        path, _, query = raw_path.partition("?")
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(min(length, MAX_REQUEST_BODY)) if length > 0 else b""
        content_type = self.headers.get("Content-Type") or ""
        fields = []
        if content_type.lower().startswith("multipart/form-data"):
            fields = parse_multipart(body, content_type)
        elif content_type.lower().startswith("application/x-www-form-urlencoded"):
            fields = [list(p) for p in urllib.parse.parse_qsl(body.decode("latin-1"), keep_blank_values=True)]
        entry = {
            "method": self.command,
            "path": path,
            "query": query,
            "args": [list(p) for p in urllib.parse.parse_qsl(query, keep_blank_values=True)],
            "fields": fields,
            "headers": {k: v for k, v in self.headers.items()},
        }
        with self.server.log_lock:
            self.server.seq += 1
            entry["seq"] = self.server.seq
            with open(self.server.log_path, "a", encoding="utf-8") as log:
                log.write(json.dumps(entry, ensure_ascii=False) + "\n")
        return path

    def send_plain(self, status, body, extra_length=0):
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(body) + extra_length))
        self.send_header("Cache-Control", "no-store, no-cache")
        self.send_header("Connection", "close")
        self.end_headers()

    def answer(self):
        if self.path.startswith("/__quit"):
            self.send_plain(200, b"")
            threading.Thread(target=self.server.shutdown, daemon=True).start()
            return
        path = self.record()
        rule = self.rule(path)
        mode = rule.get("mode", "normal")
        body = rule.get("body", '{"errno":0,"msg":"ok"}').encode("utf-8")
        status = int(rule.get("status", 500 if mode == "status" else 200))
        self.close_connection = True
        try:
            if mode == "slow":
                time.sleep(min(float(rule.get("delay", 3)), MAX_LIFETIME))
            if mode in ("normal", "slow", "status"):
                self.send_plain(status, body)
                self.wfile.write(body)
            elif mode == "garbage":
                self.send_plain(200, GARBAGE)
                self.wfile.write(GARBAGE)
            elif mode == "silent":
                while not self.server.ending.wait(0.5):
                    pass
            elif mode == "huge":
                size = int(rule.get("size", 64 << 20))
                self.send_plain(200, b"", extra_length=size)
                chunk = b"x" * 65536
                sent = 0
                while sent < size and not self.server.ending.is_set():
                    piece = chunk[: min(len(chunk), size - sent)]
                    self.wfile.write(piece)
                    sent += len(piece)
            elif mode == "close":
                self.send_plain(200, body, extra_length=1000)
                self.wfile.write(body[: len(body) // 2])
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
        except (BrokenPipeError, ConnectionResetError, OSError):
            pass

    do_GET = answer
    do_POST = answer
    do_HEAD = answer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--rules")
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()

    rules = {}
    if args.rules:
        with open(args.rules, encoding="utf-8") as f:
            rules = json.load(f)
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.rules = rules
    server.log_path = args.log
    server.log_lock = threading.Lock()
    server.seq = 0
    server.ending = threading.Event()
    open(args.log, "a").close()

    lifetime = max(1.0, min(args.lifetime, MAX_LIFETIME))
    timer = threading.Timer(lifetime, server.shutdown)
    timer.daemon = True
    timer.start()

    temp = args.port_file + ".tmp"
    with open(temp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(temp, args.port_file)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.ending.set()
        timer.cancel()
        server.server_close()
    # Handler threads still holding connections are daemons and end with the process.
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main())
