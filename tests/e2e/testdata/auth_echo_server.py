#!/usr/bin/python3
"""A plain python3-websockets echo server, the backend the HTTP servers of the
authentication tests proxy to: listens on 127.0.0.1 with a port from 0,
prints the port, then for every connection one JSON line with the
Authorization header that reached it (null when none did), and echoes every
message until it is stopped."""

import asyncio
import json
import sys

import websockets


async def echo(connection):
    print(json.dumps({"authorization": connection.request_headers.get("Authorization")}), flush=True)
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
