#!/usr/bin/python3
"""A python3-websockets echo server over TLS, for the control's wss tests:
serves the certificate chain and key it is given on 127.0.0.1 with a port
from 0, prints the port, and echoes every message until it is stopped.

With --client-ca it requires a client certificate issued by that CA and
prints one JSON line per connection with the subject of the certificate the
client showed."""

import argparse
import asyncio
import json
import ssl
import sys

import websockets


def subject_text(certificate):
    return ",".join(f"{key}={value}" for rdn in certificate.get("subject", ()) for key, value in rdn)


async def echo(connection):
    peer = connection.transport.get_extra_info("peercert")
    if peer is not None:
        print(json.dumps({"client": subject_text(peer)}), flush=True)
    async for message in connection:
        await connection.send(message)


async def main(args):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    if args.client_ca:
        context.verify_mode = ssl.CERT_REQUIRED
        context.load_verify_locations(args.client_ca)
    async with websockets.serve(echo, "127.0.0.1", 0, ssl=context) as server:
        print(next(iter(server.sockets)).getsockname()[1], flush=True)
        await asyncio.Event().wait()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cert", required=True, help="PEM certificate chain")
    parser.add_argument("--key", required=True, help="PEM private key")
    parser.add_argument("--client-ca", help="require a client certificate from this CA (PEM)")
    try:
        asyncio.run(main(parser.parse_args()))
    except KeyboardInterrupt:
        sys.exit(0)
