#!/usr/bin/env python3
"""The web server against hostile and careless clients: oversized requests, malformed
query strings and form bodies, unknown paths and methods, path tricks, a WebSocket
flood and 200 connections at once. After each, an ordinary browser request must still
be served, and at the end the web server's resident memory must be about where it began.

Run by CTest as: web_hostile.py --bin <build/bin>. Exit 0 pass, 1 fail."""
import argparse
import base64
import http.client
import os
import re
import socket
import sys
import threading
import time

from web_browser import Chassis, resident_kb, weblink_pid

failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + (f": {detail}" if detail and not ok else ""))
    if not ok:
        failures.append(name)


def request(host, port, method, path, body=None, headers=None, timeout=10):
    connection = http.client.HTTPConnection(host, port, timeout=timeout)
    try:
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def raw_exchange(host, port, data, timeout=10):
    """What the server answers to `data`; a server that closes the connection before
    taking all of it (as it may for a request it refuses) gives what it sent until then."""
    with socket.create_connection((host, port), timeout=timeout) as s:
        chunks = []
        try:
            s.sendall(data)
            s.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        except OSError:
            pass
        return b"".join(chunks)


def status_of(reply):
    found = re.match(rb"HTTP/1\.[01] (\d{3})", reply)
    return int(found.group(1)) if found else None


def weblink_rss_kb(root):
    """The web server's resident memory in KB, or None when it is not running."""
    pid = weblink_pid(root)
    return resident_kb(pid) if pid is not None else None


def serves(host, port):
    status, body = request(host, port, "GET", "/style.css")
    return status == 200 and len(body) > 0


def websocket_flood(host, port, frames):
    s = socket.create_connection((host, port), timeout=10)
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall((f"GET /ws HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n").encode())
    answer = s.recv(4096)
    upgraded = answer.startswith(b"HTTP/1.1 101")
    mask = b"\x01\x02\x03\x04"
    payload = b"flood!"
    frame = bytes([0x81, 0x80 | len(payload)]) + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    sent = 0
    try:
        s.sendall(frame * frames)
        sent = frames
        big = os.urandom(1 << 20)
        s.sendall(bytes([0x82, 0x80 | 127]) + (len(big)).to_bytes(8, "big") + mask + big)
    except OSError:
        pass
    s.close()
    return upgraded, sent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--sanitized", action="store_true",
                        help="the programs run under a sanitizer, whose own bookkeeping keeps memory")
    args = parser.parse_args()
    chassis = Chassis(os.path.abspath(args.bin))
    root = chassis.root
    host, port = re.match(r"http://([^:/]+):(\d+)", chassis.url).groups()
    port = int(port)
    try:
        check("the server serves", serves(host, port))
        # Memory is compared from after a first burst: by then every serving thread has
        # run once, and what it holds from then on is its own.
        burst(host, port)
        time.sleep(1)
        rss_start = weblink_rss_kb(root)
        for _ in range(2):
            hostile_round(host, port)
        rss_end = weblink_rss_kb(root)
        print(f"info: web server resident memory {rss_start} KB after a first burst, {rss_end} KB after "
              "two rounds of everything below")
        if not args.sanitized:
            check("memory stays flat", rss_start is not None and rss_end is not None and
                  rss_end <= rss_start * 1.1 + 512, f"{rss_start} -> {rss_end} KB")
    finally:
        chassis.stop()
    print("PASS" if not failures else f"FAILED: {', '.join(failures)}")
    return 0 if not failures else 1


def burst(host, port):
    """200 connections at once, each asking for a page; the statuses."""
    results = []
    lock = threading.Lock()

    def one():
        try:
            status, _ = request(host, port, "GET", "/cage.js", timeout=30)
        except (OSError, http.client.HTTPException) as error:
            status = str(error)
        with lock:
            results.append(status)

    threads = [threading.Thread(target=one) for _ in range(200)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def hostile_round(host, port):
    """Every hostile case once; an ordinary request is served after each."""
    rows = [
        ("unknown path is 404", "GET", "/no/such/page", None, {}, 404),
        ("a method a page does not take is 405", "PUT", "/", b"x", {}, 405),
        ("GET of a SCPI route is 405", "GET", "/api/panel", None, {}, 405),
        ("malformed query string is 400", "GET", "/?a=%zz", None, {}, 400),
        ("malformed form body is 400", "POST", "/identify", b"state=%4", {}, 400),
        ("a bad identify state is 400", "POST", "/identify", b"state=maybe", {}, 400),
        ("a body past the limit is 413", "POST", "/api/scpi", b"*IDN?" * 4000, {}, 413),
        ("a block transfer through the console is 400", "POST", "/api/scpi", b"**READ 100", {}, 400),
        ("two program messages at once are 400", "POST", "/api/scpi", b"*IDN?\n*IDN?", {}, 400),
        ("dot-dot path is 404", "GET", "/../../etc/passwd", None, {}, 404),
        ("encoded dot-dot path is not served", "GET", "/%2e%2e/%2e%2e/etc/passwd", None, {}, 404),
        ("a hidden file is not served", "GET", "/.htpasswd", None, {}, 404),
    ]
    for name, method, path, body, headers, expected in rows:
        try:
            status, _ = request(host, port, method, path, body, headers)
        except (OSError, http.client.HTTPException) as error:
            status = str(error)
        check(name, status == expected, f"got {status}")
    # The LAN page without the password changes nothing.
    status, _ = request(host, port, "POST", "/lan", b"description=hacked")
    check("a LAN change without the password is 401", status == 401, f"got {status}")
    status, body = request(host, port, "GET", "/")
    check("and the description is unchanged", b"hacked" not in body)

    reply = raw_exchange(host, port, b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n")
    check("a header past the limit is refused", status_of(reply) in (400, 413, 431, None),
          f"got {status_of(reply)}")
    reply = raw_exchange(host, port, b"\x16\x03\x01\x02\x00garbage\r\n\r\n")
    check("garbage is refused", status_of(reply) in (400, None), f"got {status_of(reply)}")
    check("served after the malformed requests", serves(host, port))

    upgraded, sent = websocket_flood(host, port, 20000)
    check("a WebSocket flood is taken", upgraded and sent == 20000)
    check("served after the WebSocket flood", serves(host, port))

    results = burst(host, port)
    check("200 connections at once are all served", results.count(200) == 200,
          f"{results.count(200)} of 200")
    # 200 idle connections do not keep another client out for long.
    idle = []
    for _ in range(200):
        try:
            idle.append(socket.create_connection((host, port), timeout=5))
        except OSError:
            break
    started = time.time()
    ok = serves(host, port)
    waited = time.time() - started
    for s in idle:
        s.close()
    check("served beside 200 idle connections", ok, f"after {waited:.1f} s")
    print(f"info: a request beside 200 idle connections waited {waited:.2f} s")
    time.sleep(3)  # the idle connections' time-out
    check("served after the idle connections", serves(host, port))



if __name__ == "__main__":
    sys.exit(main())
