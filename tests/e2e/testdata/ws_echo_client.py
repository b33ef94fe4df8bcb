#!/usr/bin/python3
"""An echo client on python3-websockets, the reference beside morvane --echo
in the conformance suite: connects to URL, sends every message back as it
came (text as text, binary as binary), and exits 0 when the connection
closed with the close handshake (whichever side began it, whatever the
code), 1 otherwise.

    ws_echo_client.py URL"""

import asyncio
import sys

import websockets


async def echo(url):
    # No size limit and no keepalive pings: the suite's messages run to
    # 16 MiB, and its server answers nothing it did not ask for.
    async with websockets.connect(url, max_size=None, ping_interval=None, compression=None) as connection:
        try:
            async for message in connection:
                await connection.send(message)
        except websockets.ConnectionClosed:
            pass
        closed = connection.close_rcvd is not None and connection.close_sent is not None
    return 0 if closed else 1


if __name__ == "__main__":
    try:
        sys.exit(asyncio.run(echo(sys.argv[1])))
    except (OSError, websockets.WebSocketException) as problem:
        print(problem, file=sys.stderr)
        sys.exit(1)
