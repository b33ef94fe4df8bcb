"""A WebSocket echo server for the engine's tests, on Debian's websockets.

Prints "PORT PID" once listening on 127.0.0.1 with a port from 0. Echoes
every message; a few texts ask for something else instead:
  "close-1001"  close with 1001 and no reason
  "ping-me"     send a ping first, then echo
  "drop"        drop the TCP connection without a close frame
"""
import asyncio
import os
import sys

import websockets


async def handle(ws, path=None):
    async for message in ws:
        if message == "close-1001":
            await ws.close(1001, "")
            return
        if message == "ping-me":
            await ws.ping(b"are you there")
        if message == "drop":
            ws.transport.abort()
            return
        await ws.send(message)


async def main():
    async with websockets.serve(handle, "127.0.0.1", 0, max_size=None, compression=None) as server:
        port = server.sockets[0].getsockname()[1]
        print(port, os.getpid(), flush=True)
        await asyncio.Future()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
