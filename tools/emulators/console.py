"""Commands on standard input, read without blocking the emulator's loop."""

import asyncio
import sys


async def stdin_lines():
    """Each line of standard input, line end removed, until input ends."""
    loop = asyncio.get_running_loop()
    reader = asyncio.StreamReader()
    await loop.connect_read_pipe(lambda: asyncio.StreamReaderProtocol(reader), sys.stdin)
    while raw := await reader.readline():
        yield raw.decode("utf-8", "replace").rstrip("\r\n")


async def listen(peer, host, port):
    """A TCP server for peer.serve_client on host:port; says where it listens."""
    server = await asyncio.start_server(peer.serve_client, host, port)
    bound_host, bound_port = server.sockets[0].getsockname()[:2]
    peer.say("listening", bound_host, bound_port)
    return server


def run(main):
    """Runs an emulator's main coroutine until it ends or Ctrl+C."""
    try:
        asyncio.run(main)
    except KeyboardInterrupt:
        pass
