#!/usr/bin/python3
"""A plain python3-websockets echo server, the backend of the proxy and the
HTTP authentication tests: listens on 127.0.0.1 with a port from 0, prints
the port, prints one JSON line per opening handshake with its request
target, Host and Authorization (null when none reached it), so that a test
can see what a proxy or an authenticating server passed on, and echoes
every message until it is stopped.

With --spoil N the echo of each connection's Nth message (from 1) comes back
with its last character or byte changed, for tests of a client that must
notice."""

import argparse
import asyncio
import functools
import json
import sys

import websockets


def spoiled(message):
    if isinstance(message, str):
        return message[:-1] + ("a" if message[-1:] != "a" else "b")
    return message[:-1] + bytes([message[-1] ^ 1])


async def echo(connection, spoil):
    headers = connection.request_headers
    print(json.dumps({"path": connection.path, "host": headers.get("Host"),
                      "authorization": headers.get("Authorization")}), flush=True)
    number = 0
    async for message in connection:
        number += 1
        await connection.send(spoiled(message) if number == spoil and message else message)


async def main(args):
    async with websockets.serve(functools.partial(echo, spoil=args.spoil), "127.0.0.1", 0) as server:
        print(next(iter(server.sockets)).getsockname()[1], flush=True)
        await asyncio.Event().wait()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--spoil", type=int, default=0, metavar="N", help="change the echo of message N (from 1)")
    try:
        asyncio.run(main(parser.parse_args()))
    except KeyboardInterrupt:
        sys.exit(0)
