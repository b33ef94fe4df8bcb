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
