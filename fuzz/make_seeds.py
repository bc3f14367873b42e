#!/usr/bin/env python3
"""Writes the small seed corpora in fuzz/corpus/<target>/ from the requests, frames and texts the
tests use. Run again after changing it; libFuzzer grows its own working corpus elsewhere."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
KEY = "dGhlIHNhbXBsZSBub25jZQ=="


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def request(headers, line="GET / HTTP/1.1"):
    text = line + "\r\n" + "".join(f"{n}: {v}\r\n" for n, v in headers) + "\r\n"
    return text.encode("latin-1")


def page(origin="https://tamberline.com", host="127.0.0.1:47800"):
    return [("Host", host), ("Upgrade", "websocket"), ("Connection", "Upgrade"),
            ("Sec-WebSocket-Key", KEY), ("Sec-WebSocket-Version", "13"), ("Origin", origin)]


def without(headers, name):
    return [h for h in headers if h[0] != name]


def replaced(headers, name, value):
    return [(n, value if n == name else v) for n, v in headers]


def http_seeds():
    cases = {
        "upgrade": request(page()),
        "upgrade-localhost-www": request(page("https://www.kestrune.com", "LOCALHOST:47800")),
        "upgrade-dev-origin": request(page("http://localhost:5173")),
        "upgrade-post-http10": request(page(), "POST /x HTTP/1.0"),
        "plain": request([("Host", "127.0.0.1:47800"), ("Accept", "*/*")]),
        "upgrade-list": request(replaced(page(), "Upgrade", "h2c, websocket")),
        "wrong-host": request(page(host="127.0.0.1")),
        "no-host": request(without(page(), "Host")),
        "origin-slash": request(page("https://tamberline.com/")),
        "no-origin": request(without(page(), "Origin")),
        "origin-space-colon": request(without(page(), "Origin") + [("Origin ", "https://tamberline.com")]),
        "version-8": request(replaced(page(), "Sec-WebSocket-Version", "8")),
        "version-list": request(replaced(page(), "Sec-WebSocket-Version", "13, 8")),
        "version-blanks": request(replaced(page(), "Sec-WebSocket-Version", " \t13 \t")),
        "no-key": request(without(page(), "Sec-WebSocket-Key")),
        "empty-key": request(replaced(page(), "Sec-WebSocket-Key", "")),
        "lowercase-names": request([(n.lower(), v) for n, v in page()]),
        "nul-hides-end": request(page())[:40] + b"\0" + request(page())[40:],
        "lone-lf": b"GET / HTTP/1.1\nHost: 127.0.0.1:47800\n\n",
        "no-blank-line": request(page())[:-2],
    }
    for name, data in cases.items():
        write("http_intake", name, b"\0" + data)
    write("http_intake", "upgrade-bytewise", b"\x01" + cases["upgrade"])
    write("http_intake", "upgrade-split", b"\x07" + cases["upgrade"])
    write("http_intake", "oversized", b"\x03" + b"GET / HTTP/1.1\r\nX: " + b"a" * 8200)


def frame(first, payload, masked=True, form=0, key=b"\x37\xfa\x21\x3d"):
    n = len(payload)
    head = bytes([first])
    mask_bit = 0x80 if masked else 0
    if form == 16 or (form == 0 and n > 125):
        head += bytes([mask_bit | 126]) + struct.pack(">H", n)
    elif form == 64:
        head += bytes([mask_bit | 127]) + struct.pack(">Q", n)
    else:
        head += bytes([mask_bit | n])
    if not masked:
        return head + payload
    return head + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


def ws_seeds():
    cases = {
        "hello": frame(0x81, b'{"cmd":"hello"}'),
        "ping-pong-close": frame(0x89, b"abc") + frame(0x8A, b"x") + frame(0x88, b"\x03\xe8bye"),
        "ping-200": frame(0x89, bytes(range(200))),
        "ping-4080": frame(0x89, b"p" * 4080),
        "too-long-4081": frame(0x89, b"p" * 4081)[:4],
        "code-127": frame(0x89, b"abc", form=64),
        "wide-short": frame(0x81, b'{"cmd":"stop"}', form=16),
        "unmasked": frame(0x81, b"x", masked=False),
        "no-fin": frame(0x01, b'{"cmd"') + frame(0x80, b':"hello"}'),
        "binary": frame(0x82, b"\0\1\2"),
        "rsv-text": frame(0xF1, b'{"cmd":"link"}'),
        "nul-in-text": frame(0x81, b'{"cmd":"he\0llo"}'),
        "empty-text": frame(0x81, b""),
        "two-texts": frame(0x81, b'{"cmd":"watch","hz":5}') + frame(0x81, b'{"cmd":"stop"}'),
        "close-then-more": frame(0x88, b"") + frame(0x89, b"after"),
        "reserved-opcode": frame(0x8B, b"?"),
    }
    for name, data in cases.items():
        write("ws_receive", name, b"\0" + data)
    write("ws_receive", "hello-split", b"\x05" + cases["two-texts"] + cases["ping-200"])


def json_seeds():
    cases = {
        "ascii": b"Home network",
        "escapes": b'a"b\\c',
        "controls": b"\n\t\x7f\x1f ~",
        "utf8": "caf\u00e9 \U0001F600 \u20ac".encode(),
        "invalid": b"\xe9 \xc3A \xc0\x80 \xf5 \xe2\x82",
        "surrogate-overlong": b"\xed\xa0\x80 \xf4\x90\x80\x80 \xe0\x80\x80 \xf0\x80\x80\x80",
        "ssid": b'Odd "SSID" \\ caf\xc3\xa9',
    }
    for name, data in cases.items():
        write("json_string", name, b"\0" + data)
    write("json_string", "seeded-failing", b"\x09" + "\u00e9".encode() * 40 + b"\x01" * 30)


def dispatch_seeds():
    cases = {
        "hello": '{"cmd":"hello"}',
        "link-blank": '{"cmd": "link"}',
        "scan": '{"cmd":"scan"}',
        "watch": '{"cmd":"watch"}',
        "watch-params": '{"cmd":"watch","hz": 5,"secs" : 601}',
        "watch-big": '{"cmd":"watch","hz":99999999999,"secs":-5}',
        "watch-note": '{"cmd":"watch","note":"hz"}',
        "stop": '{"cmd":"stop"}',
        "upper": '{"cmd":"Hello"}',
        "number": '{"cmd":5,"x":"link"}',
        "long-name": '{"cmd":"' + "n" * 30 + '"}',
        "escaped-quote": '{"cmd":"a\\"b"}',
        "no-cmd": '{"command":"hello"}',
    }
    for name, text in cases.items():
        write("dispatch", name, text.encode())
    write("dispatch", "bytes-name", b'{"cmd":"\xe9\x01\xc3\xa9"}')


RECORDINGS = os.path.join(HERE, "..", "tests", "wifi", "fixtures")


def datagrams(scene, user, prefix):
    folder = os.path.join(RECORDINGS, scene, user)
    names = sorted(n for n in os.listdir(folder) if n.startswith(prefix) and not n.endswith("-req.bin"))
    out = b""
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        out += struct.pack("<H", len(data)) + data
    return out


def attr(kind, payload, nested=False):
    head = struct.pack("<HH", 4 + len(payload), kind | (0x8000 if nested else 0))
    return head + payload + b"\0" * (-len(payload) % 4)


def message(kind, flags, cmd, attrs):
    body = bytes([cmd, 1, 0, 0]) + attrs
    return struct.pack("<IHHII", 16 + len(body), kind, flags, 7, 1234) + body


DONE = struct.pack("<IHHIIi", 20, 3, 2, 7, 1234, 0)


def bss_message(number, ie_len, status=None):
    ies = bytes([0, 6]) + b"Net%03d" % number
    ies += bytes([221, 250]) * ((ie_len - len(ies)) // 2 + 1)
    nest = attr(1, bytes([2, 0, 0, 0, number & 0xFF, 0]))
    nest += attr(2, struct.pack("<I", 2412 + 5 * (number % 13)))
    nest += attr(7, struct.pack("<i", -3000 - 10 * number))
    if status is not None:
        nest += attr(9, struct.pack("<I", status))
    nest += attr(11, ies[:ie_len])
    return message(32, 2, 34, attr(3, struct.pack("<I", 5)) + attr(47, nest, nested=True))


def framed(*datagrams):
    return b"".join(struct.pack("<H", len(d)) + d for d in datagrams)


def netlink_seeds():
    # Made-up replies at the limits: elements longer than a record holds, more records than the
    # table holds (in datagrams of up to 32 KiB, as the kernel packs them), a station reply with
    # every rate form.
    long_ies = bss_message(1, 3000, status=1)
    write("netlink", "scan-long-ies", b"\x02\x60" + framed(long_ies, DONE))
    records = [bss_message(n, 300 + n, status=1 if n == 50 else None) for n in range(100)]
    packed, current = [], b""
    for record in records:
        if len(current) + len(record) > 32768:
            packed.append(current)
            current = b""
        current += record
    packed.append(current)
    write("netlink", "scan-100-records", b"\x02\x60" + framed(*packed, DONE))
    rate = lambda *parts: b"".join(parts)
    tx = rate(attr(5, struct.pack("<I", 28824)), attr(1, struct.pack("<H", 28824 % 65536)),
              attr(20, b"\x02"), attr(14, b"\x03"), attr(7, b"\x04"), attr(2, b"\x0f"),
              attr(18, b""), attr(10, b""), attr(8, b""), attr(3, b""))
    info = attr(7, b"\xc4") + attr(8, tx, nested=True) + attr(14, tx, nested=True)
    station = message(32, 0, 19, attr(3, struct.pack("<I", 5)) + attr(21, info, nested=True))
    write("netlink", "station-every-rate", b"\x03\x00" + framed(station))

    # Mode byte (see netlink_fuzz.cpp), capacity byte, then the recorded datagrams.
    for scene, user in (("default", "root"), ("devs-b", "nobody")):
        tag = scene + "-" + user
        write("netlink", tag + "-family", b"\x00\x00" + datagrams(scene, user, "01-"))
        write("netlink", tag + "-interfaces", b"\x01\x00" + datagrams(scene, user, "02-"))
        write("netlink", tag + "-scan", b"\x02\x60" + datagrams(scene, user, "10-"))
        write("netlink", tag + "-scan-capacity-2", b"\x02\x02" + datagrams(scene, user, "10-"))
        write("netlink", tag + "-station", b"\x03\x00" + datagrams(scene, user, "11-"))
        write("netlink", tag + "-trigger", b"\x04\x00" + datagrams(scene, user, "09-"))
        # The whole visit: wifi_open (01, 02), link_query (03-05), scan_dump (09, 10),
        # signal_sample (11).
        visit = b"".join(datagrams(scene, user, f"{n:02d}-") for n in (1, 2, 3, 4, 5, 9, 10, 11))
        write("netlink", tag + "-visit", b"\x05\x00" + visit)
    # The multi-link recording (one flat folder): links in the interface dump, AP MLD addresses in
    # the scan dump, the station of the AP MLD; the visit in the helper's order (link_query asks
    # for the scan dump and the station by the AP MLD address).
    write("netlink", "mlo-interfaces", b"\x01\x00" + datagrams("mlo", "", "02-"))
    write("netlink", "mlo-scan", b"\x02\x60" + datagrams("mlo", "", "06-"))
    write("netlink", "mlo-station", b"\x03\x00" + datagrams("mlo", "", "08-"))
    visit = b"".join(datagrams("mlo", "", f"{n:02d}-") for n in (1, 2, 3, 6, 8, 5, 6, 8))
    write("netlink", "mlo-visit", b"\x05\x00" + visit)


if __name__ == "__main__":
    which = sys.argv[1:] or ["http", "ws", "json", "dispatch", "netlink"]
    for kind in which:
        globals()[kind + "_seeds"]()
