#!/usr/bin/env python3
"""Writes the seed corpus of each harness into fuzz/corpus/<harness>/.

The seeds are small, hand-made inputs that reach every branch the
harnesses care about; the fuzzer grows its own corpus from them in the
build folder. Run again after changing a seed; the files are committed.
"""
import hashlib
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SEP = b"\xff\xff"


def write(harness, seeds):
    folder = os.path.join(HERE, "corpus", harness)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        os.remove(os.path.join(folder, old))
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


def query_seeds():
    out = []
    for size, name, text in [
        (14, b"embed", b"embed=1"),
        (62, b"action", b"action=list&cid=abc&op=stop"),
        (190, b"cid", b"action=logs&cid=a%20b+c%2&x=1"),
        (30, b"op", b"xop=1&op=%zz%4a%4A&op=2"),
        (254, b"pwd", b"pwd=" + b"%41" * 100),
        (0, b"a", b"a=1&b=2&a=3&"),
        (14, b"embed", b"embed&embed=&embed=true"),
    ]:
        out.append(bytes([size, 0]) + name + b"\0" + text)
    out.append(bytes([10, 0xFF]) + b"a\0a=1")
    return out


def json_seeds():
    return [
        b"",
        b"\xff",
        b"plain text / slash",
        b"tab\there\nline\rcr\"quote\\back",
        bytes(range(1, 0x20)) + b"\x7f",
        "caf\u00e9 \u65e5\u672c \U0001F600".encode(),
        b"\xc3\x28 bad \xed\xa0\x80 \xf8\x88\x80\x80\x80",
        bytes(range(0x80, 0x100)),
    ]


def listing_seeds():
    ps = (b"CONTAINER ID|NAMES|IMAGE|STATE|STATUS|PORTS\n"
          b"3f2a1b|web|nginx:1.25|running|Up 3 hours|0.0.0.0:8080->80/tcp\r\n"
          b"\n\n9c8d7e|db|postgres:16|exited|Exited (0) 5 minutes ago|\n"
          b"aa|paused-one|img|Up 2 hours (Paused)|Up|a|b|c\n"
          b"bb|r|img|Restarting (1) 10 seconds ago||\n"
          b"cc|x|img|Configured|s|p\n"
          b"|noid\n"
          b"no bar at all\n"
          b"dd|" + b"n" * 300 + b"|" + b"i" * 300 + b"|" + b"S" * 70 + b"|st|" + b"p" * 600 + b"\n"
          + b"e" * 2000 + b"|tail\n")
    stats = (b"3f2a|0.50%|10MiB / 1GiB\n"
             b"9c8d7e00000|1%|2MiB\n"
             b"|9%|9MiB\n"
             b"bb|1.00%|1MiB\r\n"
             b"bb|2.00%|2MiB|extra\n"
             b"header without bars\n")
    many = b"".join(b"c%d|n|i|running|Up|\n" % i for i in range(300))
    return [ps + b"\0" + stats, many + b"\0" + b"c1|1%|1M\n", b"a|b", b"\n\r\n|", b"CONTAINER ID|x\n"]


def logs_seeds():
    return [
        b"a\nb\n",
        b"\n\na\n\n\nb",
        b"a\n\rb",
        b"a\rb\n",
        b"\n",
        b"x" * 5000,
        b"x" * 2047 + b"\n" + b"y" * 2047 + b"\r\n\r\nz",
        b"x" * 2047 + b"\r\r\n" + b"\xc3\xa9" * 1500,
    ]


def request(flags, query=b"", body=b"", length=b"", docker_bin=b"", path=b"", ps=b"", stats=b"", logs=b"",
            control=b"", password=b"", header=b"", authorization=b"", fetch_site=b"", origin=b"", host=b"",
            timeout=b""):
    return SEP.join([bytes(flags), query, body, length, docker_bin, path, ps, stats, logs, control, password,
                     header, authorization, fetch_site, origin, host, timeout])


def request_seeds():
    fake = b"/usr/bin/docker"
    ps = b"3f2a1b|web|nginx|running|Up 3 hours|80/tcp\r\n9c8d|db|pg|exited|Exited (0)|\n"
    stats = b"3f2a|0.50%|10MiB / 1GiB\n"
    # flags[0]
    Q, POST, OTHER, BIN, PATH, PWD, SITE, ORIGIN = 1, 2, 4, 8, 16, 32, 64, 128
    # flags[1]
    LEN, HDR, AUTH, HOST, TIMEOUT = 1, 2, 4, 8, 16
    # flags[7]: which commands hang
    HANG_PS, HANG_STATS, HANG_LOGS, HANG_CONTROL = 1, 2, 4, 8
    control = b"action=control&op=stop&cid=web1"
    return [
        request([Q | BIN, 0], b"action=list", docker_bin=fake, ps=ps, stats=stats),
        request([Q | PATH, 0], b"format=json", path=b"::/nonexistent:/tmp/hullmon-fuzz-path/docker-only:", ps=ps),
        request([Q | PATH, 0], b"action=info", path=b"/tmp/hullmon-fuzz-path/podman-only"),
        request([Q | BIN, 0, 1], b"action=list", docker_bin=fake, ps=b"Cannot connect to the Docker daemon\n"),
        request([Q | BIN, 0, 0xFE], b"action=list", docker_bin=fake),
        request([Q | BIN, 0, 0, 0, 0, 0, 1], b"action=logs&cid=web1", docker_bin=fake,
                logs=b"a\r\nb\n\n" + b"x" * 5000 + b"\rc\0hidden"),
        request([Q | BIN, 0, 0, 0, 137], b"action=logs&cid=web1", docker_bin=fake, logs=b"Killed\n"),
        request([Q | BIN, 0], b"action=logs&cid=a%3Btouch%20x", docker_bin=fake),
        request([Q | POST | BIN, LEN], b"action=control", b"op=stop&cid=web1", b"16", docker_bin=fake,
                control=b"web1\n"),
        request([Q | POST | BIN, LEN, 0, 0, 0, 1], b"action=control&op=restart&cid=web1", b"", b"0",
                docker_bin=fake, control=b"Error: no such container\n"),
        request([Q | OTHER | BIN, 0], b"action=control&op=start&cid=web1", docker_bin=fake),
        request([Q | POST | BIN, 0], b"action=control&op=kill&cid=web1", docker_bin=b"/opt/it's"),
        request([POST | BIN, LEN], b"", b"action=logs&cid=abc&op=x", b"  +12xyz", docker_bin=b"$(touch x) `y` a b"),
        request([Q | BIN, 0], b"action=%00%01%FF%7f%22%5c%0A" + b"a" * 80, docker_bin=fake),
        request([Q, 0], b"embed=true"),
        request([Q | POST, LEN], b"embed=1", b"op=start", b"8"),
        request([Q | PWD, 0], b"action=info&pwd=s%20cret", password=b"s cret"),
        request([Q | PWD, AUTH], b"action=info", password=b"secret", authorization=b"  Bearer   secret"),
        request([Q | PWD, HDR], b"action=info", password=b"secret", header=b"secreT"),
        # Control and the browser's origin headers: refused from another
        # site, allowed from the page itself or from a script without them.
        request([Q | POST | BIN | SITE, 0], control, docker_bin=fake, fetch_site=b"cross-site", control=b"web1\n"),
        request([Q | POST | BIN | SITE, 0], control, docker_bin=fake, fetch_site=b"same-origin", control=b"web1\n"),
        request([Q | POST | BIN | SITE | ORIGIN, HOST], control, docker_bin=fake, fetch_site=b"none",
                origin=b"http://evil.example", host=b"node:8080"),
        request([Q | POST | BIN | ORIGIN, HOST], control, docker_bin=fake, origin=b"HTTPS://Node:8080",
                host=b"node:8080"),
        request([Q | POST | BIN | ORIGIN, HOST], control, docker_bin=fake, origin=b"http://node:8080/x",
                host=b"node:8080"),
        request([Q | POST | BIN | ORIGIN, 0], control, docker_bin=fake, origin=b"null"),
        # Runtime commands that hang until the deadline.
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_PS], b"action=list", docker_bin=fake, ps=b"3f2a|web",
                timeout=b"1"),
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_STATS], b"action=list", docker_bin=fake, ps=ps,
                stats=stats, timeout=b"3600"),
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_LOGS], b"action=logs&cid=web1", docker_bin=fake,
                logs=b"partial line", timeout=b"0030"),
        request([Q | POST | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_CONTROL], control, docker_bin=fake,
                control=b"web1\r\n", timeout=b"7"),
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_PS | HANG_STATS], b"action=list", docker_bin=fake,
                timeout=b"0"),
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_LOGS], b"action=logs&cid=web1", docker_bin=fake,
                timeout=b"3601"),
        request([Q | BIN, TIMEOUT, 0, 0, 0, 0, 0, HANG_LOGS], b"action=logs&cid=web1", docker_bin=fake,
                timeout=b"-1"),
    ]


write("query_fuzz", query_seeds())
write("json_str_fuzz", json_seeds())
write("listing_fuzz", listing_seeds())
write("logs_fuzz", logs_seeds())
write("request_fuzz", request_seeds())
