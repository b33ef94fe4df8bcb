#!/usr/bin/python3
"""A python3-websockets echo server over TLS, for the control's wss tests:
serves the certificate chain and key it is given on 127.0.0.1 with a port
from 0, prints the port, and echoes every message until it is stopped."""

import argparse
import asyncio
import ssl
import sys

import websockets


async def echo(connection):
    async for message in connection:
        await connection.send(message)


async def main(args):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    async with websockets.serve(echo, "127.0.0.1", 0, ssl=context) as server:
        print(next(iter(server.sockets)).getsockname()[1], flush=True)
        await asyncio.Event().wait()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cert", required=True, help="PEM certificate chain")
    parser.add_argument("--key", required=True, help="PEM private key")
    try:
        asyncio.run(main(parser.parse_args()))
    except KeyboardInterrupt:
        sys.exit(0)
