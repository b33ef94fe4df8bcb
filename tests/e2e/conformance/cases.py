"""The cases, as rows of data: what the server sends, what it expects back.

A case is a list of steps that the engine plays in order:

    ("send", bytes)            write the bytes at once
    ("chop", bytes, n)         write them n bytes at a time
    ("echo", opcode, payload)  the client sends this message back (its
                               frames reassembled; with a fourth item, no
                               frame of it longer than that)
    ("pong", payload)          the client answers a ping with this pong
    ("broken",)                the rule the case breaks has just been sent:
                               a strict client fails the connection here
                               with the case's close code; a lax one goes on
    ("closing",)               the server has sent its close: the client
                               answers with a close frame, and nothing else

A case whose steps do not end in ("closing",) is ended by the engine with a
close of 1000. Cases are written from RFC 6455 and RFC 3629 alone."""

import collections

TEXT, BINARY, CLOSE, PING, PONG, CONTINUATION = 1, 2, 8, 9, 10, 0

Case = collections.namedtuple("Case", "id title steps breaks empty client_config",
                              defaults=(None, False, ()))
Group = collections.namedtuple("Group", "number title cases")


def frame(opcode, payload=b"", fin=True, rsv=0, mask=None):
    payload = payload.encode() if isinstance(payload, str) else bytes(payload)
    head = bytes([(0x80 if fin else 0) | rsv << 4 | opcode])
    bit = 0x80 if mask else 0
    n = len(payload)
    if n < 126:
        head += bytes([bit | n])
    elif n < 65536:
        head += bytes([bit | 126]) + n.to_bytes(2, "big")
    else:
        head += bytes([bit | 127]) + n.to_bytes(8, "big")
    if mask:
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        head += mask
    return head + payload


def close_payload(code, reason=b""):
    return code.to_bytes(2, "big") + (reason.encode() if isinstance(reason, str) else reason)


def send(*frames):
    return ("send", b"".join(frames))


def echo(opcode, payload, largest_frame=None):
    payload = payload.encode() if isinstance(payload, str) else bytes(payload)
    return ("echo", opcode, payload) + ((largest_frame,) if largest_frame else ())


def pattern(size, text=True):
    """ASCII letters for text, every byte value for binary."""
    if text:
        return (b"abcdefghijklmnopqrstuvwxyz0123456789" * (size // 36 + 1))[:size]
    return (bytes(range(256)) * (size // 256 + 1))[:size]


def fragments(opcode, payload, size):
    """The message as frames of at most size bytes."""
    parts = [payload[i:i + size] for i in range(0, len(payload), size)] or [b""]
    return b"".join(frame(opcode if i == 0 else CONTINUATION, part, fin=i == len(parts) - 1)
                    for i, part in enumerate(parts))


BROKEN = ("broken",)
CLOSING = ("closing",)
SIZES = (0, 125, 126, 127, 128, 65535, 65536)
KIB, MIB = 1024, 1024 * 1024


def framing():
    cases = []
    for sub, (opcode, text) in enumerate(((TEXT, True), (BINARY, False)), 1):
        kind = "text" if text else "binary"
        for n, size in enumerate(SIZES, 1):
            data = pattern(size, text)
            cases.append(Case(f"1.{sub}.{n}", f"one {kind} frame of {size} bytes",
                              [send(frame(opcode, data)), echo(opcode, data)], empty=size == 0))
        data = pattern(65536, text)
        cases.append(Case(f"1.{sub}.{len(SIZES) + 1}", f"one {kind} frame of 65536 bytes, written 997 bytes at a time",
                          [("chop", frame(opcode, data), 997), echo(opcode, data)]))
    return cases


def pings():
    hello, binary, full = b"Hello, world!", bytes([0x00, 0xFF, 0xFE, 0xFD, 0xFC, 0xFB, 0x00, 0xFF]), b"*" * 125
    return [
        Case("2.1", "ping without payload", [send(frame(PING)), ("pong", b"")]),
        Case("2.2", "ping with a text payload", [send(frame(PING, hello)), ("pong", hello)]),
        Case("2.3", "ping with a binary payload", [send(frame(PING, binary)), ("pong", binary)]),
        Case("2.4", "ping with 125 bytes", [send(frame(PING, full)), ("pong", full)]),
        Case("2.5", "ping with 126 bytes", [send(frame(PING, full + b"*")), BROKEN], breaks=1002),
        Case("2.6", "ping with 125 bytes, written a byte at a time", [("chop", frame(PING, full), 1), ("pong", full)]),
        Case("2.7", "unsolicited pong without payload: no answer", [send(frame(PONG))]),
        Case("2.8", "unsolicited pong with payload: no answer", [send(frame(PONG, "unsolicited"))]),
        Case("2.9", "unsolicited pong, then a ping", [send(frame(PONG, "pong"), frame(PING, "ping")), ("pong", b"ping")]),
        Case("2.10", "ten pings in one write", [send(*(frame(PING, f"ping {i}") for i in range(10)))]
             + [("pong", f"ping {i}".encode()) for i in range(10)]),
        Case("2.11", "ten pings, written a byte at a time",
             [("chop", b"".join(frame(PING, f"ping {i}") for i in range(10)), 1)]
             + [("pong", f"ping {i}".encode()) for i in range(10)]),
    ]


def reserved_bits():
    good = [send(frame(TEXT, "before")), echo(TEXT, "before")]
    rows = [
        ("RSV1 on a text frame", [], frame(TEXT, "hello", rsv=1)),
        ("RSV2 on a text frame, after a good message", good, frame(TEXT, "hello", rsv=2)),
        ("RSV3 on a text frame written a byte at a time, after a good message", good, frame(TEXT, "hello", rsv=4)),
        ("RSV1 and RSV3 on a binary frame", [], frame(BINARY, b"\x00\xff", rsv=5)),
        ("RSV2 and RSV3 on a ping", [], frame(PING, "ping", rsv=6)),
        ("all three on a close", [], frame(CLOSE, close_payload(1000), rsv=7)),
        ("RSV1 on a continuation frame", [send(frame(TEXT, "frag", fin=False))], frame(CONTINUATION, "ment", rsv=1)),
    ]
    cases = []
    for n, (title, before, bad) in enumerate(rows, 1):
        write = ("chop", bad, 1) if "a byte at a time" in title else send(bad)
        after = [send(frame(PING, "after")), ("pong", b"after")] if "close" not in title else [CLOSING]
        cases.append(Case(f"3.{n}", title, before + [write, BROKEN] + after, breaks=1002))
    return cases


def opcodes():
    cases = []
    for sub, codes in ((1, (3, 4, 5, 6, 7)), (2, (11, 12, 13, 14, 15))):
        for n, opcode in enumerate(codes, 1):
            payload = b"reserved" if n % 2 else b""
            cases.append(Case(f"4.{sub}.{n}", f"reserved opcode {opcode}, with {len(payload)} bytes, after a good message",
                              [send(frame(TEXT, "before")), echo(TEXT, "before"), send(frame(opcode, payload)), BROKEN,
                               send(frame(PING, "after")), ("pong", b"after")], breaks=1002))
    return cases


def fragmentation():
    f = lambda opcode, payload, fin=False: frame(opcode, payload, fin=fin)  # noqa: E731
    two = f(TEXT, "frag") + f(CONTINUATION, "ment", True)
    around_ping = f(TEXT, "frag") + frame(PING, "between") + f(CONTINUATION, "ment", True)
    around_pong = f(TEXT, "frag") + frame(PONG, "between") + f(CONTINUATION, "ment", True)
    rows = [
        ("a ping in two fragments", send(f(PING, "frag") + f(CONTINUATION, "ment", True)), [BROKEN], 1002),
        ("a pong in two fragments", send(f(PONG, "frag") + f(CONTINUATION, "ment", True)), [BROKEN], 1002),
        ("text in two fragments", send(two), [echo(TEXT, "fragment")], None),
        ("text in two fragments, written a byte at a time", ("chop", two, 1), [echo(TEXT, "fragment")], None),
        ("a ping between two fragments", send(around_ping), [("pong", b"between"), echo(TEXT, "fragment")], None),
        ("the same, written a byte at a time", ("chop", around_ping, 1),
         [("pong", b"between"), echo(TEXT, "fragment")], None),
        ("an unsolicited pong between two fragments", send(around_pong), [echo(TEXT, "fragment")], None),
        ("a final continuation with nothing to continue", send(f(CONTINUATION, "alone", True)), [BROKEN], 1002),
        ("a continuation with nothing to continue", send(f(CONTINUATION, "alone")), [BROKEN], 1002),
        ("a continuation with nothing to continue, then a good message",
         send(f(CONTINUATION, "alone", True)), [BROKEN, send(frame(TEXT, "good"))], 1002),
        ("a new text frame inside a fragmented message", send(f(TEXT, "frag") + f(TEXT, "ment", True)),
         [BROKEN], 1002),
        ("a new binary frame inside a fragmented message", send(f(BINARY, b"\x01") + f(BINARY, b"\x02", True)),
         [BROKEN], 1002),
        ("binary in five fragments", send(fragments(BINARY, pattern(10, False), 2)), [echo(BINARY, pattern(10, False))],
         None),
        ("text whose first and last fragments are empty", send(f(TEXT, "") + f(CONTINUATION, "middle") +
                                                                  f(CONTINUATION, "", True)),
         [echo(TEXT, "middle")], None),
        ("a message, then a continuation with nothing to continue", send(two),
         [echo(TEXT, "fragment"), send(f(CONTINUATION, "late", True)), BROKEN], 1002),
    ]
    cases = [Case(f"5.{n}", title, [first] + rest, breaks=code)
             for n, (title, first, rest, code) in enumerate(rows, 1)]
    cases.append(Case(f"5.{len(rows) + 1}", "text in three empty fragments",
                      [send(f(TEXT, "") + f(CONTINUATION, "") + f(CONTINUATION, "", True)), echo(TEXT, "")],
                      empty=True))
    return cases


# Well-formed text at the edges of RFC 3629's ranges, and malformed text.
VALID_TEXT = [
    ("Greek", "κόσμε".encode()),
    ("mixed scripts", "Hello-µ@ßöäüàá-UTF-8!!".encode()),
    ("U+0080, the first two-byte character", b"\xc2\x80"),
    ("U+07FF, the last two-byte character", b"\xdf\xbf"),
    ("U+0800, the first three-byte character", b"\xe0\xa0\x80"),
    ("U+D7FF, below the surrogates", b"\xed\x9f\xbf"),
    ("U+E000, above the surrogates", b"\xee\x80\x80"),
    ("U+FFFD and U+FFFF", b"\xef\xbf\xbd\xef\xbf\xbf"),
    ("U+10000, the first four-byte character", b"\xf0\x90\x80\x80"),
    ("U+10FFFF, the last character", b"\xf4\x8f\xbf\xbf"),
    ("a NUL among ASCII", b"nul\x00inside"),
]
INVALID_TEXT = [
    ("a lone continuation byte", b"\x80"),
    ("continuation bytes after ASCII", b"abc\xbf\xbf"),
    ("an overlong '/' in two bytes", b"\xc0\xaf"),
    ("an overlong NUL in three bytes", b"\xe0\x80\x80"),
    ("an overlong U+FFFF in four bytes", b"\xf0\x8f\xbf\xbf"),
    ("a high surrogate", b"\xed\xa0\x80"),
    ("a low surrogate", b"\xed\xbf\xbf"),
    ("a surrogate pair", b"\xed\xa0\x80\xed\xb0\x80"),
    ("U+110000, beyond the last character", b"\xf4\x90\x80\x80"),
    ("a five-byte sequence", b"\xf8\x88\x80\x80\x80"),
    ("a six-byte sequence", b"\xfc\x84\x80\x80\x80\x80"),
    ("the bytes FE and FF", b"\xfe\xff"),
    ("a two-byte lead followed by ASCII", b"\xc2A"),
    ("text ending inside a three-byte character", b"abc\xe2\x82"),
    ("Greek, then a surrogate", "κόσμε".encode() + b"\xed\xa0\x80edited"),
]


def utf8():
    bytewise = lambda data: fragments(TEXT, data, 1)  # noqa: E731
    cases = [
        Case("6.1.1", "an empty text frame", [send(frame(TEXT)), echo(TEXT, b"")], empty=True),
        Case("6.1.2", "an empty text message in two fragments",
             [send(frame(TEXT, fin=False), frame(CONTINUATION)), echo(TEXT, b"")], empty=True),
        Case("6.1.3", "an empty fragment, then text", [send(frame(TEXT, fin=False), frame(CONTINUATION, "after")),
                                                       echo(TEXT, "after")]),
    ]
    for sub, (rows, breaks) in ((2, (VALID_TEXT, None)), (3, (INVALID_TEXT, 1007))):
        for n, (title, data) in enumerate(rows, 1):
            expect = [echo(TEXT, data)] if breaks is None else [BROKEN]
            cases.append(Case(f"6.{sub}.{2 * n - 1}", f"{title}, in one frame", [send(frame(TEXT, data))] + expect,
                              breaks=breaks))
            cases.append(Case(f"6.{sub}.{2 * n}", f"{title}, a byte per frame", [send(bytewise(data))] + expect,
                              breaks=breaks))
    # Failing fast: the client must fail at the bad byte, before the rest of
    # its frame or message has come.
    greek, bad, rest = "κόσμε".encode(), b"\xce\xba\xe1\xbd\xb9\xcf\x83\xce\xbc\xce\xb5\xf4\x90\x80\x80", b"-edited"
    whole = frame(TEXT, bad + rest)
    cases += [
        Case("6.4.1", "a good fragment, a bad one, and only then the last",
             [send(frame(TEXT, greek, fin=False), frame(CONTINUATION, b"\xf4\x90\x80\x80", fin=False)), BROKEN,
              send(frame(CONTINUATION, rest))], breaks=1007),
        Case("6.4.2", "a frame cut off after its first bad byte, the rest a second later",
             [send(whole[:2 + len(bad) - 2]), BROKEN, send(whole[2 + len(bad) - 2:])], breaks=1007),
        Case("6.4.3", "the same, written a byte at a time",
             [("chop", whole[:2 + len(bad) - 2], 1), BROKEN, send(whole[2 + len(bad) - 2:])], breaks=1007),
        Case("6.4.4", "a bad byte deep in a 256 KiB frame, the frame's end withheld",
             [send(frame(TEXT, pattern(128 * KIB) + b"\xff" + pattern(128 * KIB - 1))[:14 + 128 * KIB + 64]),
              BROKEN, send(frame(TEXT, pattern(128 * KIB) + b"\xff" + pattern(128 * KIB - 1))[14 + 128 * KIB + 64:])],
             breaks=1007),
    ]
    # What the client's code page makes of text must not reach the wire.
    cases += [Case(f"6.5.{n}", f"Greek text in one frame, the client's CodePage set to {page}",
                   [send(frame(TEXT, "κόσμε")), echo(TEXT, "κόσμε")], client_config=(f"CodePage={page}",))
              for n, page in enumerate((1252, 437, 65001), 1)]
    return cases


# Close codes a server may send, and codes it may not.
SENDABLE = (1000, 1001, 1002, 1003, 1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 3000, 3999, 4000, 4999)
UNSENDABLE = (0, 999, 1004, 1005, 1006, 1015, 1016, 1100, 2000, 2999, 5000, 65535)


def close_handling():
    close = lambda payload=b"": send(frame(CLOSE, payload))  # noqa: E731
    normal = close_payload(1000)
    cases = [
        Case("7.1.1", "a message, then the close", [send(frame(TEXT, "before")), echo(TEXT, "before"), close(normal),
                                                    CLOSING]),
        Case("7.1.2", "two closes in a row: one answer", [close(normal), close(normal), CLOSING]),
        Case("7.1.3", "a ping after the close: no pong", [close(normal), send(frame(PING, "late")), CLOSING]),
        Case("7.1.4", "a message after the close: no echo", [close(normal), send(frame(TEXT, "late")), CLOSING]),
        Case("7.1.5", "a close between a message's fragments ends it unsent",
             [send(frame(TEXT, "frag", fin=False)), close(normal), send(frame(CONTINUATION, "ment")), CLOSING]),
        Case("7.1.6", "a 256 KiB message and a ping, then the close",
             [send(frame(TEXT, pattern(256 * KIB))), echo(TEXT, pattern(256 * KIB)), send(frame(PING, "ping")),
              ("pong", b"ping"), close(normal), CLOSING]),
        Case("7.3.1", "a close without payload", [close(), CLOSING]),
        Case("7.3.2", "a close with a one-byte payload", [close(b"\x03"), BROKEN, CLOSING], breaks=1002),
        Case("7.3.3", "a close with a code and no reason", [close(normal), CLOSING]),
        Case("7.3.4", "a close with a code and a reason", [close(close_payload(1000, "Hello World!")), CLOSING]),
        Case("7.3.5", "a close with a 123-byte reason", [close(close_payload(1000, "*" * 123)), CLOSING]),
        Case("7.3.6", "a close with a 124-byte reason: too long for a control frame",
             [close(close_payload(1000, "*" * 124)), BROKEN, CLOSING], breaks=1002),
        Case("7.5.1", "a close whose reason is not UTF-8",
             [close(close_payload(1000, b"\xce\xba\xe1\xbd\xb9\xcf\x83\xce\xbc\xce\xb5\xed\xa0\x80")), BROKEN, CLOSING],
             breaks=1007),
    ]
    cases += [Case(f"7.7.{n}", f"close code {code}", [close(close_payload(code)), CLOSING])
              for n, code in enumerate(SENDABLE, 1)]
    cases += [Case(f"7.9.{n}", f"close code {code}, which may not be sent", [close(close_payload(code)), BROKEN, CLOSING],
                   breaks=1002) for n, code in enumerate(UNSENDABLE, 1)]
    return cases


LARGE = (64 * KIB, 256 * KIB, MIB, 4 * MIB, 8 * MIB, 16 * MIB)
FRAME_SIZES = (64, 256, KIB, 4 * KIB, 16 * KIB, 64 * KIB, 256 * KIB, MIB, 4 * MIB)
CHOPS = (64, 256, KIB, 4 * KIB, 16 * KIB, 64 * KIB)
COUNTS = (16, 64, 256, KIB, 4 * KIB)


def size_name(n):
    return f"{n // MIB} MiB" if n >= MIB else f"{n // KIB} KiB" if n >= KIB else f"{n} B"


def large_messages():
    cases = []
    for text, base in ((True, 1), (False, 2)):
        opcode, kind = (TEXT, "text") if text else (BINARY, "binary")
        cases += [Case(f"9.{base}.{n}", f"{kind}, {size_name(size)} in one frame",
                       [send(frame(opcode, pattern(size, text))), echo(opcode, pattern(size, text))])
                  for n, size in enumerate(LARGE, 1)]
        data = pattern(4 * MIB, text)
        cases += [Case(f"9.{base + 2}.{n}", f"{kind}, 4 MiB in frames of {size_name(size)}",
                       [send(fragments(opcode, data, size)), echo(opcode, data)])
                  for n, size in enumerate(FRAME_SIZES, 1)]
        data = pattern(MIB, text)
        cases += [Case(f"9.{base + 4}.{n}", f"{kind}, 1 MiB written {size_name(size)} at a time",
                       [("chop", frame(opcode, data), size), echo(opcode, data)])
                  for n, size in enumerate(CHOPS, 1)]
        cases += [Case(f"9.{base + 6}.{n}", f"1000 {kind} messages of {size_name(size)} in one write",
                       [send(frame(opcode, pattern(size, text)) * 1000)] + [echo(opcode, pattern(size, text))] * 1000)
                  for n, size in enumerate(COUNTS, 1)]
    return sorted(cases, key=lambda c: tuple(int(p) for p in c.id.split(".")))


def auto_fragmentation():
    """The client's own fragmentation of what it sends back, at MaxFrameSize."""
    rows = [
        (TEXT, pattern(64 * KIB), 4096),
        (BINARY, pattern(MIB, False), 64 * KIB),
        (TEXT, "κόσμε-UTF-8".encode() * 100, 7),
        (TEXT, pattern(125), 1),
        (BINARY, pattern(16 * MIB, False), 131072),
    ]
    return [Case(f"10.1.{n}", f"{'text' if op == TEXT else 'binary'} of {len(data)} bytes, sent back in frames of "
                              f"at most {size}", [send(frame(op, data)), echo(op, data, size)],
                 client_config=(f"MaxFrameSize={size}",))
            for n, (op, data, size) in enumerate(rows, 1)]


GROUPS = [
    Group(1, "Framing", framing()),
    Group(2, "Pings and pongs", pings()),
    Group(3, "Reserved bits", reserved_bits()),
    Group(4, "Opcodes", opcodes()),
    Group(5, "Fragmentation", fragmentation()),
    Group(6, "UTF-8 handling", utf8()),
    Group(7, "Close handling", close_handling()),
    Group(9, "Large messages", large_messages()),
    Group(10, "Auto-fragmentation", auto_fragmentation()),
]
