#!/usr/bin/python3
"""Morvane against the physical reference: the three client workloads,
several runs each, through morvane --bench (the control's dispatch interface
and events) against websocket_bench_server, and through tcp_reference (plain
TCP, no framing). Prints one JSON line per workload with the medians and
the ratios.

W1 latency 20,000 x 64 B, W2 throughput 200 x 1 MiB, W3 burst 1,000,000 x 16 B,
and W4 and W5, W1 and W2 over wss (the server's throwaway certificate
accepted in advance through BENCH_CAFILE; the reference stays plain TCP, so
their ratios include what TLS costs).

Usage: websocket_bench.py BUILD_DIR [--runs N]
(the control must be registered where morvane finds it; this script
registers it into a registry of its own)
"""

import argparse
import json
import os
import statistics
import subprocess
import tempfile

WORKLOADS = [("W1", "latency", 20000, 64, False), ("W2", "throughput", 200, 1 << 20, False),
             ("W3", "burst", 1000000, 16, False), ("W4", "latency", 20000, 64, True),
             ("W5", "throughput", 200, 1 << 20, True)]


def run(command, env=None):
    out = subprocess.run(command, capture_output=True, text=True, env=env, timeout=600)
    result = json.loads(out.stdout.strip().splitlines()[-1])
    if not result.get("ok"):
        raise RuntimeError(f"{command[0]}: {result}")
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    registry = tempfile.mkdtemp(prefix="morvane-bench-")
    env = dict(os.environ, TALTRIX_COM_MACHINE_HIVE=os.path.join(registry, "m.reg"),
               TALTRIX_COM_USER_HIVE=os.path.join(registry, "u.reg"))
    subprocess.run([os.path.join(build, "tools/comreg/comreg"), "register",
                    os.path.join(build, "control/com/libmorvane.so")], env=env, check=True, capture_output=True)
    cert, key = os.path.join(registry, "cert.pem"), os.path.join(registry, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=localhost",
                    "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)

    for name, workload, count, size, tls in WORKLOADS:
        server_env = dict(os.environ, BENCH_TLS_CERT=cert, BENCH_TLS_KEY=key) if tls else None
        client_env = dict(env, BENCH_CAFILE=cert) if tls else env
        server = subprocess.Popen([os.path.join(build, "bench/websocket_bench_server"), "0", str(count), str(size)],
                                  stdout=subprocess.PIPE, text=True, env=server_env)
        port = server.stdout.readline().split()[1]
        scheme = "wss" if tls else "ws"
        morvane, tcp = [], []
        try:
            for _ in range(args.runs):
                morvane.append(run([os.path.join(build, "tools/morvane/morvane"), "--bench", workload,
                                    f"{scheme}://127.0.0.1:{port}/", str(count), str(size)], client_env))
                tcp.append(run([os.path.join(build, "bench/tcp_reference"), workload, str(count), str(size)]))
        finally:
            server.kill()
        line = {"id": name, "workload": workload, "scheme": scheme, "count": count, "size": size,
                "runs": args.runs}
        for name, results in (("morvane", morvane), ("tcp", tcp)):
            seconds = statistics.median(r["seconds"] for r in results)
            line[f"{name}_seconds"] = round(seconds, 4)
            line[f"{name}_messages_per_s"] = round(count / seconds)
            line[f"{name}_MB_per_s"] = round(count * size / seconds / 1e6, 1)
            if workload == "latency":
                line[f"{name}_median_us"] = statistics.median(r["median_us"] for r in results)
                line[f"{name}_p99_us"] = statistics.median(r["p99_us"] for r in results)
        # The two clients run in turn, so each pair saw the machine in the
        # same state; the median of the pairs' ratios is the steadier figure
        # when the machine's speed drifts.
        if workload == "latency":
            line["median_ratio"] = round(line["morvane_median_us"] / line["tcp_median_us"], 2)
            pairs = [m["median_us"] / t["median_us"] for m, t in zip(morvane, tcp)]
        else:
            line["throughput_ratio"] = round(line["tcp_seconds"] / line["morvane_seconds"], 2)
            pairs = [t["seconds"] / m["seconds"] for m, t in zip(morvane, tcp)]
        line["pair_ratio_median"] = round(statistics.median(pairs), 2)
        print(json.dumps(line), flush=True)


if __name__ == "__main__":
    main()
