#!/usr/bin/python3
"""An NTLM authenticator for squid's "auth_param ntlm program", for the
tunnel tests: it issues a fresh challenge for each negotiate message and
checks the NTLMv2 response of the authenticate message against the
passwords it was given, so that a wrong password is refused.

    squid_ntlm_helper.py USERS_FILE

USERS_FILE holds "user:password" lines. Squid writes one request a line:
"YR <negotiate>" is answered with "TT <challenge>", "KK <authenticate>" with
"AF <user>" when the response proves the password, else "NA <reason>".
LM and NTLMv1 responses are refused: only NTLMv2 is verified here."""

import base64
import hmac
import os
import struct
import sys

SIGNATURE = b"NTLMSSP\0"
UNICODE = 0x00000001
OEM = 0x00000002
REQUEST_TARGET = 0x00000004
SIGN = 0x00000010
SEAL = 0x00000020
NTLM = 0x00000200
ALWAYS_SIGN = 0x00008000
TARGET_TYPE_DOMAIN = 0x00010000
EXTENDED_SESSION_SECURITY = 0x00080000
TARGET_INFO = 0x00800000
VERSION = 0x02000000
KEY_128 = 0x20000000
KEY_EXCHANGE = 0x40000000
KEY_56 = 0x80000000

DOMAIN = "MORVANE"
COMPUTER = "PROXY"


def md4(data):
    """MD4 as RFC 1320 describes it; OpenSSL 3 leaves it out of its default
    provider, so hashlib may not have it."""

    def rotate(x, n):
        x &= 0xFFFFFFFF
        return ((x << n) | (x >> (32 - n))) & 0xFFFFFFFF

    state = [0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476]
    message = data + b"\x80" + b"\0" * ((55 - len(data)) % 64) + struct.pack("<Q", len(data) * 8)
    for start in range(0, len(message), 64):
        x = struct.unpack("<16I", message[start:start + 64])
        a, b, c, d = state
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            f = (b & c) | (~b & d)
            a, b, c, d = d, rotate(a + f + x[k], s), b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            g = (b & c) | (b & d) | (c & d)
            a, b, c, d = d, rotate(a + g + x[k] + 0x5A827999, s), b, c
        for i in range(16):
            k, s = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i], (3, 9, 11, 15)[i % 4]
            h = b ^ c ^ d
            a, b, c, d = d, rotate(a + h + x[k] + 0x6ED9EBA1, s), b, c
        state = [(v + w) & 0xFFFFFFFF for v, w in zip(state, (a, b, c, d))]
    return struct.pack("<4I", *state)


def hmac_md5(key, data):
    return hmac.new(key, data, "md5").digest()


def field(message, offset):
    """The bytes an 8-byte length/offset pair at offset points to."""
    length, _, start = struct.unpack_from("<HHI", message, offset)
    if start + length > len(message):
        raise ValueError("field beyond the message")
    return message[start:start + length]


def av_pair(kind, value):
    return struct.pack("<HH", kind, len(value)) + value


def challenge_message(client_flags, server_challenge):
    flags = (REQUEST_TARGET | NTLM | ALWAYS_SIGN | TARGET_TYPE_DOMAIN | TARGET_INFO | EXTENDED_SESSION_SECURITY
             | (UNICODE if client_flags & UNICODE else OEM)
             | (client_flags & (SIGN | SEAL | KEY_128 | KEY_56 | KEY_EXCHANGE | VERSION)))
    target = DOMAIN.encode("utf-16-le") if flags & UNICODE else DOMAIN.encode()
    info = (av_pair(2, DOMAIN.encode("utf-16-le")) + av_pair(1, COMPUTER.encode("utf-16-le"))
            + av_pair(0, b""))
    header = 56
    message = SIGNATURE + struct.pack("<I", 2)
    message += struct.pack("<HHI", len(target), len(target), header)
    message += struct.pack("<I", flags) + server_challenge + b"\0" * 8
    message += struct.pack("<HHI", len(info), len(info), header + len(target))
    message += bytes([10, 0]) + struct.pack("<H", 20348) + b"\0\0\0\x0f"
    return message + target + info


def verify(message, server_challenge, passwords):
    """The user the authenticate message proves, or raises ValueError."""
    if not message.startswith(SIGNATURE) or struct.unpack_from("<I", message, 8)[0] != 3:
        raise ValueError("not an authenticate message")
    flags = struct.unpack_from("<I", message, 60)[0]
    text = (lambda raw: raw.decode("utf-16-le")) if flags & UNICODE else (lambda raw: raw.decode("latin-1"))
    response = field(message, 20)
    domain = text(field(message, 28))
    user = text(field(message, 36))
    if len(response) <= 24:
        raise ValueError("no NTLMv2 response")
    password = next((p for name, p in passwords.items() if name.lower() == user.lower()), None)
    if password is None:
        raise ValueError("unknown user " + user)
    key = hmac_md5(md4(password.encode("utf-16-le")), (user.upper() + domain).encode("utf-16-le"))
    proof = hmac_md5(key, server_challenge + response[16:])
    if not hmac.compare_digest(proof, response[:16]):
        raise ValueError("wrong password for " + user)
    return user


def main():
    passwords = {}
    with open(sys.argv[1]) as users:
        for line in users:
            name, _, password = line.rstrip("\n").partition(":")
            if name:
                passwords[name] = password
    server_challenge = None
    for line in sys.stdin:
        command, _, blob = line.strip().partition(" ")
        try:
            message = base64.b64decode(blob, validate=True)
            if command == "YR":
                if not message.startswith(SIGNATURE) or struct.unpack_from("<I", message, 8)[0] != 1:
                    raise ValueError("not a negotiate message")
                server_challenge = os.urandom(8)
                reply = "TT " + base64.b64encode(
                    challenge_message(struct.unpack_from("<I", message, 12)[0], server_challenge)).decode()
            elif command == "KK":
                if server_challenge is None:
                    raise ValueError("no challenge was issued")
                # A challenge answers one authenticate message only.
                challenge, server_challenge = server_challenge, None
                reply = "AF " + verify(message, challenge, passwords)
            else:
                reply = "BH unknown request " + command
        except (ValueError, struct.error) as refusal:
            reply = "NA " + str(refusal)
            # Squid keeps the reason to itself; its cache.log gets it here.
            print(f"squid_ntlm_helper {os.getpid()}: {reply}", file=sys.stderr, flush=True)
        print(reply, flush=True)


if __name__ == "__main__":
    main()
