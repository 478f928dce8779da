#!/usr/bin/env python3
"""The vendor's two sites for the updater's end-to-end tests (a ctest fixture's setup and cleanup).

  vendor_sites.py start --server PROG --program EXE --state DIR --server-port P1 --nginx-port P2
                        [--signing-key PEM] [--previous EXE --rollout N%]
  vendor_sites.py stop --state DIR

start publishes EXE as release into DIR/release, serves it with update-server on
127.0.0.1:P1, exports it and serves the export with nginx on 127.0.0.1:P2 (a configuration in
DIR, unprivileged). With a signing key both serve the release's record signed with it.
With --previous and --rollout the release is offered to that share of installations, and
the others are offered EXE given as --previous. Both are waited for. A stale pair from an
earlier run is stopped first.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import time
import urllib.request

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"
NAME = "Tanvik体验版.exe"
PREVIOUS_NAME = "Tanvik体验版-previous.exe"


def answers(port):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:{port}/freeUpdate/isweb.asp", timeout=2) as r:
            return r.read() == b"true"
    except OSError:
        return False


def wait_for(port, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if answers(port):
            return True
        time.sleep(0.1)
    return False


def stop(state):
    pid_file = os.path.join(state, "update-server.pid")
    if os.path.exists(pid_file):
        try:
            pid = int(open(pid_file).read())
            os.kill(pid, signal.SIGTERM)
            for _ in range(100):
                os.kill(pid, 0)
                time.sleep(0.05)
        except (OSError, ValueError):
            pass
        os.remove(pid_file)
    conf = os.path.join(state, "nginx.conf")
    if os.path.exists(os.path.join(state, "nginx.pid")):
        subprocess.run([NGINX, "-c", conf, "-p", state, "-s", "stop"], capture_output=True)


def start(args):
    state = os.path.abspath(args.state)
    if not os.access(args.server, os.X_OK):
        sys.exit(f"vendor_sites: {args.server} is missing: build the native preset first "
                 "(bash scripts/test.sh does)")
    stop(state)
    shutil.rmtree(state, ignore_errors=True)
    release = os.path.join(state, "release")
    os.makedirs(release)
    with open(os.path.join(release, "release.ini"), "w", encoding="utf-8") as f:
        f.write(f"program = {NAME}\nmanual_page = http://127.0.0.1/manual.html\n")
        if args.signing_key:
            f.write(f"signing_key = {os.path.abspath(args.signing_key)}\n")
        if args.previous:
            f.write(f"previous = {PREVIOUS_NAME}\nrollout = {args.rollout}\n")
    published = [(args.program, NAME)]
    if args.previous:
        published.append((args.previous, PREVIOUS_NAME))
    for source, name in published:
        shutil.copyfile(source, os.path.join(release, name + ".part"))
        os.rename(os.path.join(release, name + ".part"), os.path.join(release, name))

    with open(os.path.join(state, "update-server.log"), "wb") as log:
        server = subprocess.Popen(
            [args.server, "--listen", f"127.0.0.1:{args.server_port}", release],
            stdin=subprocess.DEVNULL, stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(state, "update-server.pid"), "w") as f:
        f.write(str(server.pid))

    site = f"http://127.0.0.1:{args.nginx_port}/"
    subprocess.run([args.server, "export", "--public-url", site, "--listen",
                    f"127.0.0.1:{args.nginx_port}", release, os.path.join(state, "export")],
                   check=True, stdout=subprocess.DEVNULL)
    temp = " ".join(f"{kind}_temp_path {state}/{kind};"
                    for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    with open(os.path.join(state, "nginx.conf"), "w") as f:
        # Started by root, nginx's workers would run as "nobody", who may not reach this folder.
        f.write("user root;\n" if os.geteuid() == 0 else "")
        f.write(f"daemon on; worker_processes 1; pid {state}/nginx.pid; error_log {state}/error.log;\n"
                f"events {{ worker_connections 64; }}\n"
                f"http {{ access_log off; {temp} include {state}/export/nginx-server.conf; }}\n")
    subprocess.run([NGINX, "-c", os.path.join(state, "nginx.conf"), "-p", state], check=True,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    for port, what, log in ((args.server_port, "update-server", "update-server.log"),
                            (args.nginx_port, "nginx", "error.log")):
        if not wait_for(port):
            stop(state)
            sys.exit(f"vendor_sites: {what} does not answer on port {port}; see {state}/{log}")
    print(f"vendor_sites: update-server on {args.server_port}, nginx on {args.nginx_port}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("command", choices=("start", "stop"))
    parser.add_argument("--state", required=True)
    parser.add_argument("--server")
    parser.add_argument("--program")
    parser.add_argument("--server-port", type=int)
    parser.add_argument("--nginx-port", type=int)
    parser.add_argument("--signing-key")
    parser.add_argument("--previous")
    parser.add_argument("--rollout", default="100%")
    args = parser.parse_args()
    if args.command == "start":
        start(args)
    else:
        stop(os.path.abspath(args.state))


if __name__ == "__main__":
    main()
