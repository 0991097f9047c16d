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
            control=b"", password=b"", header=b"", authorization=b"", arg=b""):
    return SEP.join([bytes(flags), query, body, length, docker_bin, path, ps, stats, logs, control, password,
                     header, authorization, arg])


def request_seeds():
    fake = b"/usr/bin/docker"
    ps = b"3f2a1b|web|nginx|running|Up 3 hours|80/tcp\r\n9c8d|db|pg|exited|Exited (0)|\n"
    stats = b"3f2a|0.50%|10MiB / 1GiB\n"
    Q, POST, GET, BIN, PATH, PWD, META, ARG = 1, 2, 4, 8, 16, 32, 64, 128
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
        request([Q | POST | BIN, 1], b"action=control", b"op=stop&cid=web1", b"16", docker_bin=fake,
                control=b"web1\n"),
        request([Q | POST | BIN, 1, 0, 0, 0, 1], b"action=control&op=restart&cid=web1", b"", b"0",
                docker_bin=fake, control=b"Error: no such container\n"),
        request([Q | GET | BIN, 0], b"action=control&op=start&cid=web1", docker_bin=fake),
        request([Q | POST | BIN, 0], b"action=control&op=kill&cid=web1", docker_bin=b"/opt/it's"),
        request([POST | BIN, 1], b"", b"action=logs&cid=abc&op=x", b"  +12xyz", docker_bin=b"$(touch x) `y` a b"),
        request([Q | BIN, 0], b"action=%00%01%FF%7f%22%5c%0A" + b"a" * 80, docker_bin=fake),
        request([Q, 0], b"embed=true"),
        request([Q | POST, 1], b"embed=1", b"op=start", b"8"),
        request([Q | PWD, 0], b"action=info&pwd=s%20cret", password=b"s cret"),
        request([Q | PWD, 4], b"action=info", password=b"secret", authorization=b"  Bearer   secret"),
        request([Q | PWD, 2], b"action=info", password=b"secret", header=b"secreT"),
        request([META, 0]),
        request([ARG, 0], arg=b"--help"),
        request([ARG | Q, 0], b"action=info", arg=b"--Version"),
    ]


write("query_fuzz", query_seeds())
write("json_str_fuzz", json_seeds())
write("listing_fuzz", listing_seeds())
write("logs_fuzz", logs_seeds())
write("request_fuzz", request_seeds())
