#!/usr/bin/python3
"""A plain python3-websockets echo server, the backend of the proxy and the
HTTP authentication tests: listens on 127.0.0.1 with a port from 0, prints
the port, prints one JSON line per opening handshake with its request
target, Host and Authorization (null when none reached it), so that a test
can see what a proxy or an authenticating server passed on, and echoes
every message until it is stopped."""

import asyncio
import json
import sys

import websockets


async def echo(connection):
    headers = connection.request_headers
    print(json.dumps({"path": connection.path, "host": headers.get("Host"),
                      "authorization": headers.get("Authorization")}), flush=True)
    async for message in connection:
        await connection.send(message)


async def main():
    async with websockets.serve(echo, "127.0.0.1", 0) as server:
        print(next(iter(server.sockets)).getsockname()[1], flush=True)
        await asyncio.Event().wait()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
