#!/usr/bin/env python3
"""A scriptable HTTP/1.1 server for the tests, on 127.0.0.1 only.

Each request target (path and query, matched exactly) gets the reply that a test scripted
for it: status, headers, body, a Content-Length that is right, absent or wrong, and a way
of sending the body (gzip-encoded, chunked, cut short, slow, stalled, chunked and cut short
before its last chunk). Anything not scripted gets 404. Every request outside the control
API is recorded.

Control API on the same port:
  POST /__script        JSON script (see Script), or a raw body with the JSON in X-Script
  GET  /__requests      the record as JSON; ?format=http gives request heads instead
  DELETE /__requests    clears the record
  POST /__reset         clears the scripts and the record
  POST /__end_stalls    the stalls under way end now (their connections close)
  GET  /__identity      who this server is (used by the ctest fixture)
  POST /__shutdown      ends the server
  POST /__mount         {"path": "/tmp/qv-ro-NAME"}: makes that folder and mounts a 64 MB tmpfs
                        on it; NAME is letters, digits, ".", "_" and "-", and no other path is
                        taken (the server runs as root)
  POST /__remount       {"path": ..., "read_only": true|false}: switches a mount of this server
  POST /__unmount       {"path": ...}: unmounts a mount of this server and removes its folder

A read-only mount is a folder that even root cannot write: Wine run as root ignores permission
bits, so it is the tests' only folder that Windows programs cannot write. The server unmounts
what it mounted when it ends (not when it is killed with SIGKILL). A mount that fails (no
`mount`, no right to mount) is answered 500 with mount's own message.

Strings in scripts and in the record are Latin-1 views of the bytes on the wire, which is
how http.server reads request lines and headers too.

The server ends by itself after --lifetime seconds, on SIGTERM or SIGINT, and when the
process named by --owner-pid is gone.
"""

import argparse
import base64
import gzip
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

SERVER_NAME = "qv-test-http-server"
CONTROL_PREFIX = "/__"
BEHAVIOURS = ("normal", "gzip", "chunked", "drop", "slow", "stall", "chunked_drop")
RANGE_REPLIES = ("honest", "short", "long", "chunked_short", "other_file", "gzip")
MAX_WAIT_SECONDS = 300  # any pause a script asks for is bounded
FILE_PIECE_BYTES = 64 * 1024
MOUNT_FOLDER = "/tmp"
MOUNT_NAME = re.compile(r"qv-ro-[A-Za-z0-9_-][A-Za-z0-9._-]*")
MOUNT_SIZE = "64m"
UNMOUNT_BUSY_SECONDS = 5  # a Wine program that has just ended may hold the mount a moment


class ScriptError(ValueError):
    pass


class Body:
    """A reply body held in memory or read from a file piece by piece."""

    def __init__(self, data=b"", path=None):
        self.data = data
        self.path = path

    def __len__(self):
        return os.path.getsize(self.path) if self.path else len(self.data)

    def pieces(self, size):
        if self.path:
            with open(self.path, "rb") as f:
                while piece := f.read(size):
                    yield piece
        else:
            for start in range(0, len(self.data), size):
                yield self.data[start:start + size]

    def read_all(self):
        if self.path:
            with open(self.path, "rb") as f:
                return f.read()
        return self.data


class Script:
    """What one target answers. Fields (JSON):
      target          "/path?query", matched exactly against the request target
      status          default 200
      headers         [[name, value], ...] or {name: value}
      body | body_base64 | body_file   text, base64 bytes, or a file served in pieces
      content_length  "exact" (default), "absent", or a number to announce
      behaviour       normal | gzip | chunked | drop | slow | stall | chunked_drop
      location        adds a Location header (redirects: status 302 or 307)
      piece_bytes     chunked, chunked_drop: bytes per chunk; slow: bytes per piece
      interval_ms     slow: pause between pieces
      burst_bytes     slow: bytes sent at once before the pieces start
      after_bytes     drop, stall: the connection is closed or stalls where the file's byte
                      after_bytes would be sent (counted from the file's start, so that a
                      range from there on sends nothing); chunked_drop: body bytes sent in
                      chunks before the close, with no last chunk
      stall_seconds   stall: how long it stays silent before it closes
      faulty_replies  drop, stall: only this many replies to the target misbehave, those after
                      are sent whole; 0 (default): every one
      ranges          true: "Range: bytes=N-" is answered 206 with the rest, unless an If-Range
                      names another validator than the reply's ETag or Last-Modified
      changing_etag   true: each reply has an ETag of its own ("try-1", "try-2", ...)
      statuses        [status, ...]: reply n has statuses[n-1] instead of status, while there
                      is one; 0 closes the connection without a reply
      cut_each_reply  drop, stall: after_bytes counts from each reply's own first byte, so
                      that every range request brings that many bytes
      ignore_if_range true: with ranges, a Range is answered 206 whatever If-Range names
      range_reply     how a 206 breaks the rules: honest (default); short (Content-Length and
                      body 1000 bytes short); long (8 bytes "GARBAGE!" more, and announced);
                      chunked_short (chunked, 1000 bytes short, properly ended); other_file
                      (the rest of another file: every byte of the body inverted); gzip
                      (Content-Encoding: gzip, the rest gzip-compressed)
      range_etag      when given, the ETag a 206 carries instead of the reply's ("" for none)
    """

    def __init__(self, described, body=None, base_dir="."):
        try:
            self.target = str(described["target"])
            self.status = int(described.get("status", 200))
            self.headers = self._headers(described.get("headers", []))
            self.body = body if body is not None else self._body(described, base_dir)
            self.content_length = described.get("content_length", "exact")
            self.behaviour = described.get("behaviour", "normal")
            self.location = described.get("location", "")
            self.piece_bytes = max(1, int(described.get("piece_bytes", 4096)))
            self.interval = min(int(described.get("interval_ms", 0)) / 1000.0, MAX_WAIT_SECONDS)
            self.burst_bytes = max(0, int(described.get("burst_bytes", 0)))
            self.after_bytes = max(0, int(described.get("after_bytes", 0)))
            self.stall_seconds = min(float(described.get("stall_seconds", 0)), MAX_WAIT_SECONDS)
            self.faulty_replies = max(0, int(described.get("faulty_replies", 0)))
            self.ranges = bool(described.get("ranges", False))
            self.changing_etag = bool(described.get("changing_etag", False))
            self.statuses = [int(n) for n in described.get("statuses", [])]
            self.cut_each_reply = bool(described.get("cut_each_reply", False))
            self.ignore_if_range = bool(described.get("ignore_if_range", False))
            self.range_reply = described.get("range_reply", "honest")
            self.range_etag = described.get("range_etag")
        except (KeyError, TypeError, ValueError) as e:
            raise ScriptError(f"bad script: {e!r}") from e
        if not self.target.startswith("/") or self.target.startswith(CONTROL_PREFIX):
            raise ScriptError(f"bad target {self.target!r}")
        if self.behaviour not in BEHAVIOURS:
            raise ScriptError(f"unknown behaviour {self.behaviour!r}")
        if self.range_reply not in RANGE_REPLIES:
            raise ScriptError(f"unknown range_reply {self.range_reply!r}")
        if self.content_length not in ("exact", "absent") and not (
                isinstance(self.content_length, int) and self.content_length >= 0):
            raise ScriptError(f"bad content_length {self.content_length!r}")

    @staticmethod
    def _headers(headers):
        pairs = headers.items() if isinstance(headers, dict) else headers
        return [(str(name), str(value)) for name, value in pairs]

    @staticmethod
    def _body(described, base_dir):
        if "body_file" in described:
            path = os.path.join(base_dir, described["body_file"])
            if not os.path.isfile(path):
                raise ScriptError(f"no file {path!r}")
            return Body(path=path)
        if "body_base64" in described:
            return Body(base64.b64decode(described["body_base64"], validate=True))
        return Body(str(described.get("body", "")).encode("utf-8"))


class MountError(Exception):
    def __init__(self, status, message):
        super().__init__(message)
        self.status = status


def _run(*command):
    """Runs a mount command; raises MountError with its message when it fails."""
    try:
        done = subprocess.run(command, capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise MountError(500, f"{' '.join(command)}: {e}") from e
    if done.returncode != 0:
        raise MountError(500, f"{' '.join(command)} failed ({done.returncode}): "
                              f"{done.stderr.strip()} (the tests' HTTP server must run as root "
                              f"where mounting is allowed)")


class Mounts:
    """The tmpfs mounts this server made, each on a folder of its own under /tmp/qv-ro-*."""

    def __init__(self):
        self.lock = threading.Lock()
        self.paths = set()

    @staticmethod
    def _checked(path):
        if (not isinstance(path, str) or not MOUNT_NAME.fullmatch(os.path.basename(path))
                or path != os.path.join(MOUNT_FOLDER, os.path.basename(path))):
            raise MountError(400, f"refused {path!r}: only {MOUNT_FOLDER}/qv-ro-<name> is mounted")
        return path

    def _ours(self, path):
        if self._checked(path) not in self.paths:
            raise MountError(404, f"{path!r} is not mounted by this server")
        return path

    def mount(self, path):
        with self.lock:
            try:
                os.mkdir(self._checked(path), 0o755)
            except OSError as e:
                raise MountError(409, f"cannot make {path!r}: {e}") from e
            try:
                _run("mount", "-t", "tmpfs", "-o", f"size={MOUNT_SIZE}", "tmpfs", path)
            except MountError:
                os.rmdir(path)
                raise
            self.paths.add(path)

    def remount(self, path, read_only):
        with self.lock:
            _run("mount", "-o", "remount," + ("ro" if read_only else "rw"), self._ours(path))

    def unmount(self, path):
        with self.lock:
            self._unmount(self._ours(path))

    def unmount_all(self):
        with self.lock:
            for path in list(self.paths):
                try:
                    self._unmount(path)
                except MountError as e:
                    sys.stderr.write(f"{SERVER_NAME}: {e}\n")

    def _unmount(self, path):
        deadline = time.monotonic() + UNMOUNT_BUSY_SECONDS
        while True:
            try:
                _run("umount", path)
                break
            except MountError:
                if time.monotonic() >= deadline:
                    _run("umount", "--lazy", path)  # detached now, freed once let go
                    break
                time.sleep(0.2)
        self.paths.discard(path)
        try:
            os.rmdir(path)
        except OSError as e:
            raise MountError(500, f"unmounted, but cannot remove {path!r}: {e}") from e


class State:
    """Scripts and the record of requests, shared by the handler threads."""

    def __init__(self):
        self.lock = threading.Lock()
        self.scripts = {}
        self.requests = []
        self.replies = {}  # replies sent per target
        self.stopping = threading.Event()
        self.stalls_end = threading.Event()  # set (and replaced) to end the stalls under way
        self.mounts = Mounts()

    def add_script(self, script):
        with self.lock:
            self.scripts[script.target] = script
            self.replies.pop(script.target, None)

    def count_reply(self, target):
        """The number of this reply to the target, from 1."""
        with self.lock:
            self.replies[target] = self.replies.get(target, 0) + 1
            return self.replies[target]

    def script_for(self, target):
        with self.lock:
            return self.scripts.get(target)

    def record(self, method, target, headers):
        with self.lock:
            self.requests.append({"method": method, "target": target, "headers": headers})

    def recorded(self):
        with self.lock:
            return list(self.requests)

    def clear_requests(self):
        with self.lock:
            self.requests.clear()

    def end_stalls(self):
        with self.lock:
            ending, self.stalls_end = self.stalls_end, threading.Event()
        ending.set()

    def stall_ender(self):
        with self.lock:
            return self.stalls_end

    def reset(self):
        with self.lock:
            self.scripts.clear()
            self.requests.clear()
            self.replies.clear()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QvTestHttpServer/1"
    timeout = 120  # idle keep-alive connections and clients that stopped reading let go

    # --- dispatch -------------------------------------------------------------------

    def do_GET(self):
        self._dispatch()

    def do_HEAD(self):
        self._dispatch()

    def do_POST(self):
        self._dispatch()

    def do_PUT(self):
        self._dispatch()

    def do_DELETE(self):
        self._dispatch()

    def log_message(self, format, *args):
        if self.server.verbose:
            sys.stderr.write("%s %s\n" % (self.log_date_time_string(), format % args))

    def _dispatch(self):
        try:
            if self.path.startswith(CONTROL_PREFIX):
                self._control()
            else:
                self._scripted()
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, TimeoutError):
            self.close_connection = True

    def _request_body(self):
        length = int(self.headers.get("Content-Length", 0) or 0)
        return self.rfile.read(length) if length > 0 else b""

    # --- control API ----------------------------------------------------------------

    def _control(self):
        state = self.server.state
        url = urlsplit(self.path)
        route = (self.command, url.path)
        if route in (("POST", "/__script"), ("PUT", "/__script")):
            self._add_script(self._request_body())
        elif route == ("GET", "/__requests"):
            if parse_qs(url.query).get("format") == ["http"]:
                self._send_control(200, _request_heads(state.recorded()), "text/plain")
            else:
                self._send_json(200, state.recorded())
        elif route == ("DELETE", "/__requests"):
            state.clear_requests()
            self._send_json(200, {"ok": True})
        elif route == ("POST", "/__reset"):
            self._request_body()
            state.reset()
            self._send_json(200, {"ok": True})
        elif route == ("POST", "/__end_stalls"):
            self._request_body()
            state.end_stalls()
            self._send_json(200, {"ok": True})
        elif route in (("POST", "/__mount"), ("POST", "/__remount"), ("POST", "/__unmount")):
            self._mount_call(url.path[len(CONTROL_PREFIX):], self._request_body())
        elif route == ("GET", "/__identity"):
            self._send_json(200, self.server.identity)
        elif route == ("POST", "/__shutdown"):
            self._send_json(200, {"ok": True})
            self.close_connection = True
            self.server.stop("asked to")
        else:
            self._send_json(404, {"error": f"no control route {self.command} {url.path}"})

    def _add_script(self, raw):
        try:
            if "X-Script" in self.headers:
                script = Script(json.loads(self.headers["X-Script"]), body=Body(raw))
            else:
                script = Script(json.loads(raw.decode("utf-8")))
        except (ScriptError, ValueError) as e:
            self._send_json(400, {"error": str(e)})
            return
        self.server.state.add_script(script)
        self._send_json(200, {"ok": True, "target": script.target})

    def _mount_call(self, call, raw):
        mounts = self.server.state.mounts
        try:
            asked = json.loads(raw.decode("utf-8"))
            if not isinstance(asked, dict):
                raise MountError(400, "a JSON object is expected")
            path = asked.get("path")
            if call == "mount":
                mounts.mount(path)
            elif call == "unmount":
                mounts.unmount(path)
            elif not isinstance(asked.get("read_only"), bool):
                raise MountError(400, "read_only must be true or false")
            else:
                mounts.remount(path, asked["read_only"])
        except ValueError as e:
            self._send_json(400, {"error": f"bad JSON: {e}"})
        except MountError as e:
            self._send_json(e.status, {"error": str(e)})
        else:
            self._send_json(200, {"ok": True, "path": path})

    def _send_json(self, status, value):
        self._send_control(status, json.dumps(value).encode("utf-8"), "application/json")

    def _send_control(self, status, data, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    # --- scripted replies -----------------------------------------------------------

    def _scripted(self):
        self._request_body()
        self.server.state.record(self.command, self.path, list(self.headers.items()))
        script = self.server.state.script_for(self.path)
        if script is None:
            self._send_control(404, b"not scripted\n", "text/plain")
            return
        Reply(self, script).send()


class Reply:
    """Sends one scripted reply on a handler's connection."""

    def __init__(self, handler, script):
        self.handler = handler
        self.script = script
        self.stopping = handler.server.state.stopping
        self.number = handler.server.state.count_reply(script.target)
        self.start = 0  # the file's first byte in this reply's body
        self.faulty = not script.faulty_replies or self.number <= script.faulty_replies

    def _headers(self):
        headers = list(self.script.headers)
        if self.script.changing_etag:
            headers = [(n, v) for n, v in headers if n.lower() != "etag"]
            headers.append(("ETag", f'"try-{self.number}"'))
        return headers

    def _range_start(self, headers, length):
        """Where a range request asks the body to start, when it is to be answered 206."""
        asked = self.handler.headers.get("Range", "")
        if not self.script.ranges or not asked.startswith("bytes=") or not asked.endswith("-"):
            return None
        try:
            start = int(asked[len("bytes="):-1])
        except ValueError:
            return None
        if_range = None if self.script.ignore_if_range else self.handler.headers.get("If-Range")
        validators = [v for n, v in headers if n.lower() in ("etag", "last-modified")]
        if if_range is not None and if_range not in validators:
            return None
        return start if 0 <= start < length else None

    def _status(self):
        s = self.script
        return s.statuses[self.number - 1] if self.number <= len(s.statuses) else s.status

    def _partial(self, body, headers, start):
        """The 206's body, headers and framing as the script has the server send them."""
        s, whole = self.script, body.read_all()
        length = len(whole)
        headers.append(("Content-Range", f"bytes {start}-{length - 1}/{length}"))
        if s.range_etag is not None:
            headers[:] = [(n, v) for n, v in headers if n.lower() != "etag"]
            if s.range_etag:
                headers.append(("ETag", s.range_etag))
        rest = whole[start:]
        chunked = False
        if s.range_reply in ("short", "chunked_short"):
            rest, chunked = rest[:-1000], s.range_reply == "chunked_short"
        elif s.range_reply == "long":
            rest += b"GARBAGE!"
        elif s.range_reply == "other_file":
            rest = bytes(b ^ 0xFF for b in rest)
        elif s.range_reply == "gzip":
            rest = gzip.compress(rest, mtime=0)
            headers.append(("Content-Encoding", "gzip"))
        return Body(rest), chunked

    def send(self):
        s, h = self.script, self.handler
        status = self._status()
        if status == 0:
            h.close_connection = True
            return
        body = Body(gzip.compress(s.body.read_all(), mtime=0)) if s.behaviour == "gzip" else s.body
        length = len(body)
        headers = self._headers()
        start = self._range_start(headers, length) if status == 200 else None
        chunked_range = False
        if start is not None:
            status, self.start = 206, start
            body, chunked_range = self._partial(body, headers, start)
            length = len(body)
        h.send_response(status)
        for name, value in headers:
            h.send_header(name, value)
        if s.location:
            h.send_header("Location", s.location)
        if s.behaviour == "gzip":
            h.send_header("Content-Encoding", "gzip")
        if s.behaviour in ("chunked", "chunked_drop") or chunked_range:
            h.send_header("Transfer-Encoding", "chunked")
        elif s.content_length == "exact":
            h.send_header("Content-Length", str(length))
        elif s.content_length == "absent":
            h.send_header("Connection", "close")  # the close ends the body
        else:
            h.send_header("Content-Length", str(s.content_length))
        h.end_headers()
        if h.command == "HEAD":
            return
        behaviour = s.behaviour if self.faulty or s.behaviour not in ("drop", "stall") else "normal"
        if chunked_range:
            behaviour = "chunked"
        getattr(self, "_send_" + behaviour, self._send_normal)(body)
        # A body that does not match its framing leaves the connection unusable.
        framed = behaviour == "chunked" or s.content_length in ("exact", length)
        if behaviour in ("drop", "stall", "chunked_drop") or not framed:
            h.close_connection = True

    def _write(self, data):
        self.handler.wfile.write(data)

    def _send_normal(self, body):
        for piece in body.pieces(FILE_PIECE_BYTES):
            self._write(piece)

    _send_gzip = _send_normal

    def _send_chunked(self, body):
        for piece in body.pieces(self.script.piece_bytes):
            self._write(b"%x\r\n%s\r\n" % (len(piece), piece))
        self._write(b"0\r\n\r\n")

    def _send_chunked_drop(self, body):
        left = self.script.after_bytes
        for piece in body.pieces(self.script.piece_bytes):
            if left <= 0:
                break
            piece = piece[:left]
            left -= len(piece)
            self._write(b"%x\r\n%s\r\n" % (len(piece), piece))

    def _send_slow(self, body):
        data = body.read_all()
        burst = self.script.burst_bytes
        if burst:
            self._write(data[:burst])
        for index, piece in enumerate(Body(data[burst:]).pieces(self.script.piece_bytes)):
            if (index or burst) and self.stopping.wait(self.script.interval):
                return
            self._write(piece)

    def _send_first_bytes(self, body):
        left = self.script.after_bytes - (0 if self.script.cut_each_reply else self.start)
        for piece in body.pieces(FILE_PIECE_BYTES):
            if left <= 0:
                break
            self._write(piece[:left])
            left -= len(piece)

    def _send_drop(self, body):
        self._send_first_bytes(body)

    def _send_stall(self, body):
        ender = self.handler.server.state.stall_ender()
        self._send_first_bytes(body)
        if not self.stopping.is_set():
            ender.wait(self.script.stall_seconds)


def _latin1(text):
    return text.encode("latin-1", "replace")


def _request_heads(requests):
    """The record as request heads: a request line, header lines, a blank line each."""
    out = bytearray()
    for r in requests:
        out += _latin1(f"{r['method']} {r['target']}\r\n")
        for name, value in r["headers"]:
            out += _latin1(f"{name}: {value}\r\n")
        out += b"\r\n"
    return bytes(out)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, state, owner_pid, verbose):
        super().__init__(("127.0.0.1", port), Handler)
        self.state = state
        self.verbose = verbose
        self.identity = {"server": SERVER_NAME, "pid": os.getpid(), "owner_pid": owner_pid,
                         "port": self.server_address[1]}

    def stop(self, why):
        if not self.state.stopping.is_set():
            self.state.stopping.set()
            self.state.end_stalls()
            sys.stderr.write(f"{SERVER_NAME}: stopping ({why})\n")
            # shutdown() waits for serve_forever, so it must not run on its thread.
            threading.Thread(target=self.shutdown, daemon=True).start()


def process_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def watch(server, lifetime, owner_pid):
    deadline = time.monotonic() + lifetime
    while not server.state.stopping.wait(1.0):
        if time.monotonic() >= deadline:
            server.stop(f"lifetime of {lifetime:g} s over")
        elif owner_pid and not process_alive(owner_pid):
            server.stop(f"owner {owner_pid} is gone")


def load_scripts(state, path):
    with open(path, encoding="utf-8") as f:
        descriptions = json.load(f)
    if isinstance(descriptions, dict):
        descriptions = descriptions.get("scripts", [])
    base_dir = os.path.dirname(os.path.abspath(path))
    for described in descriptions:
        state.add_script(Script(described, base_dir=base_dir))


def write_port_file(path, port):
    temporary = path + ".tmp"
    with open(temporary, "w") as f:
        f.write(f"{port}\n")
    os.replace(temporary, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--port-file", help="where the port in use is written once listening")
    parser.add_argument("--lifetime", type=float, default=1800, help="seconds before it ends")
    parser.add_argument("--owner-pid", type=int, default=0, help="ends when this process is gone")
    parser.add_argument("--script", action="append", default=[], help="JSON file of scripts")
    parser.add_argument("--verbose", action="store_true", help="log each request")
    args = parser.parse_args(argv)

    state = State()
    try:
        for path in args.script:
            load_scripts(state, path)
    except (OSError, ValueError) as e:
        parser.error(f"cannot load scripts: {e}")
    try:
        server = Server(args.port, state, args.owner_pid, args.verbose)
    except OSError as e:
        sys.stderr.write(f"{SERVER_NAME}: cannot listen on 127.0.0.1:{args.port}: {e}\n")
        return 2
    port = server.server_address[1]
    if args.port_file:
        write_port_file(args.port_file, port)
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda n, _frame: server.stop(signal.Signals(n).name))
    threading.Thread(target=watch, args=(server, args.lifetime, args.owner_pid),
                     daemon=True).start()
    sys.stderr.write(f"{SERVER_NAME}: listening on 127.0.0.1:{port}, pid {os.getpid()}\n")
    sys.stderr.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()
        state.mounts.unmount_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())
