#!/usr/bin/env python3
"""Starts and stops the tests' HTTP server for ctest (a fixture's setup and cleanup).

  fixture.py start --port P --state FILE --log FILE [--lifetime S] [--owner-pid PID]
  fixture.py stop  --port P --state FILE

start runs the server in the background, waits until it answers and records its pid in
FILE. The server belongs to the process that runs this script (ctest): it ends by itself
when that process is gone, so a killed run leaves it behind for a second or two at most.
A server of ours whose owner is gone is stopped and replaced; one whose owner still runs
(another ctest on this port) is waited for, for a bounded time; anything else on the port
is an error that says so.
"""

import argparse
import http.client
import json
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER = os.path.join(HERE, "test_http_server.py")
SERVER_NAME = "qv-test-http-server"


class PortHeldByOther(Exception):
    pass


def request(port, method, path, timeout=3.0):
    """(status, body) of a request to 127.0.0.1:port; None when nothing listens."""
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        connection.request(method, path)
        response = connection.getresponse()
        return response.status, response.read()
    except ConnectionRefusedError:
        return None
    except (OSError, http.client.HTTPException) as e:
        raise PortHeldByOther(f"it does not answer as the test server ({e!r})") from e
    finally:
        connection.close()


def identity(port):
    """The identity of our server on the port, None if the port is free."""
    reply = request(port, "GET", "/__identity")
    if reply is None:
        return None
    status, body = reply
    try:
        value = json.loads(body)
    except ValueError:
        value = None
    if status != 200 or not isinstance(value, dict) or value.get("server") != SERVER_NAME:
        raise PortHeldByOther(f"it answers /__identity with status {status}, not as the test server")
    return value


def process_running(pid):
    """True while the process exists and is not a zombie waiting to be reaped."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.1)
    return True


def port_free(port):
    try:
        return identity(port) is None
    except PortHeldByOther:
        return False


def clear_port(port, busy_wait):
    """Makes the port free of stale servers of ours; raises if it cannot."""
    deadline = time.monotonic() + busy_wait
    while (found := identity(port)) is not None:
        owner = found.get("owner_pid", 0)
        if owner and process_running(owner) and owner != os.getppid():
            if time.monotonic() >= deadline:
                raise PortHeldByOther(
                    f"the test server of another run (server pid {found.get('pid')}, run pid "
                    f"{owner}) has held it for {busy_wait:g} s")
            time.sleep(1.0)
            continue
        print(f"replacing a stale test server (pid {found.get('pid')}) on port {port}")
        request(port, "POST", "/__shutdown")
        if not wait_until(lambda: port_free(port), 10):
            raise PortHeldByOther("a stale test server did not let it go")


def start(args):
    try:
        clear_port(args.port, args.busy_wait)
    except PortHeldByOther as e:
        sys.exit(f"port {args.port} on 127.0.0.1 is not free: {e}. Stop that program or "
                 f"configure another test port (cmake -DQV_TEST_HTTP_PORT=<port>).")
    owner = args.owner_pid or os.getppid()
    command = [sys.executable, SERVER, "--port", str(args.port), "--lifetime", str(args.lifetime),
               "--owner-pid", str(owner), "--verbose"]
    with open(args.log, "ab") as log:
        # Its own session and no pipe of ours: ctest does not wait for the server to end.
        server = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                  start_new_session=True, close_fds=True)

    def answering():
        if server.poll() is not None:
            return True
        try:
            found = identity(args.port)
        except PortHeldByOther:
            return False
        return found is not None and found.get("pid") == server.pid

    if not wait_until(answering, 15) or server.poll() is not None:
        if server.poll() is None:
            server.terminate()
        with open(args.log, errors="replace") as log:
            sys.exit(f"the test server did not start on port {args.port}:\n{log.read()[-2000:]}")
    with open(args.state, "w") as f:
        json.dump({"pid": server.pid, "port": args.port}, f)
    print(f"test HTTP server on 127.0.0.1:{args.port}, pid {server.pid}, log {args.log}")


def stop(args):
    try:
        with open(args.state) as f:
            pid = json.load(f)["pid"]
    except (OSError, ValueError, KeyError):
        print("no test server was recorded")
        return
    try:
        found = identity(args.port)
    except PortHeldByOther:
        found = None
    if found and found.get("pid") == pid:
        request(args.port, "POST", "/__shutdown")
    if not wait_until(lambda: not process_running(pid), 10):
        try:
            os.kill(pid, 15)  # the server we started and recorded
        except ProcessLookupError:
            pass
    os.remove(args.state)
    print(f"test HTTP server (pid {pid}) stopped")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("action", choices=("start", "stop"))
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--state", required=True, help="file that records the server's pid")
    parser.add_argument("--log", help="the server's output (start)")
    parser.add_argument("--lifetime", type=float, default=3600)
    parser.add_argument("--owner-pid", type=int, default=0, help="default: this script's parent")
    parser.add_argument("--busy-wait", type=float, default=120,
                        help="seconds to wait for another live run's server to go")
    args = parser.parse_args()
    if args.port == 8080:
        sys.exit("the test server does not use port 8080: it belongs to the main job")
    if args.action == "start":
        if not args.log:
            parser.error("start needs --log")
        start(args)
    else:
        stop(args)


if __name__ == "__main__":
    main()
