#!/usr/bin/python3
"""Morvane against two references on the client workloads: morvane --bench
(the control through its dispatch interface and events) and
beast_reference_client (Boost.Beast's synchronous client) against the same
websocket_bench_server, and tcp_reference (plain TCP, no framing) where a
plain-TCP figure means something (the ws workloads).

W1 latency 20,000 x 64 B, W2 throughput 200 x 1 MiB, W3 burst 1,000,000 x 16 B,
W4 and W5: W1 and W2 over wss (the server's throwaway certificate named to
both clients through BENCH_CAFILE).

The clients take turns: round 1 of every client, then round 2, and so on,
each round starting with a different client, so that a machine whose speed
drifts treats them alike. Each run goes through /usr/bin/time for its peak
resident set. Prints a table (medians over the runs; morvane/beast with the
direction that is better for morvane; p99 for the latency workloads; peak
RSS), then one JSON line per workload.

On W1, tcp_reference also runs as a loop-driven client would wait: in
epoll_wait before each receive, and with the receive completed by io_uring in
its wait (where the kernel and the build allow it). Their distance from the
blocking receive is the floor under any client that keeps a message loop
running while it waits, as the control does and the synchronous Beast client
does not; it is printed under the table.

On W1 and W2, websocket_floor runs too: the least a WebSocket client can do
(blocking, each message framed and masked, each echo read and compared, no
events or conversions). What it loses to plain TCP is the protocol's cost on
this machine; it is printed under the table with the clients' share of it.

--strict adds morvane with StrictProtocol on as a client of its own, in the
same rounds, and prints its cost beside morvane under the table.

Usage: websocket_bench.py BUILD_DIR [--runs N] [--only W1,W4] [--cpus same|split] [--strict]
(the script registers the control into a registry of its own)

--cpus pins the server to CPU 0 and every client to CPU 0 too (same) or to
CPU 1 (split). Unpinned, a one-message-at-a-time workload takes either speed
from one round to the next, as the scheduler happens to place the two
processes: on a virtual machine whose idle processors halt, a round trip
between two processors costs several times one within a processor, since each
message has to wake the other one. Pinned, each placement gives a steady
figure of its own.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile

WORKLOADS = [("W1", "latency", 20000, 64, False), ("W2", "throughput", 200, 1 << 20, False),
             ("W3", "burst", 1000000, 16, False), ("W4", "latency", 20000, 64, True),
             ("W5", "throughput", 200, 1 << 20, True)]
RSS_MARK = "peak_rss_kib="


def pinned(cpu):
    """What a child runs before its program: nothing, or keeping to `cpu`."""
    return None if cpu is None else (lambda: os.sched_setaffinity(0, {cpu}))


def run(command, env=None, cpu=None):
    """One client run: its JSON line from standard output, with the peak
    resident set /usr/bin/time wrote last on standard error."""
    try:
        out = subprocess.run(["/usr/bin/time", "-f", RSS_MARK + "%M", *command], capture_output=True, text=True,
                             env=env, timeout=600, preexec_fn=pinned(cpu))
    except subprocess.TimeoutExpired:
        return {"ok": False, "error": "no result within 600 s"}
    lines = out.stdout.strip().splitlines()
    try:
        result = json.loads(lines[-1])
    except (IndexError, json.JSONDecodeError):
        return {"ok": False, "error": f"exit {out.returncode}, no JSON line; stderr: {out.stderr.strip()[-300:]}"}
    marks = [line for line in out.stderr.splitlines() if line.startswith(RSS_MARK)]
    if marks:
        result["peak_rss_kib"] = int(marks[-1][len(RSS_MARK):])
    return result


# What each workload is judged by: its figure, the unit shown, and whether
# more of it is better.
FIGURES = {"latency": ("median_us", "us", False), "throughput": ("MB_per_s", "MB/s", True),
           "burst": ("messages_per_s", "msg/s", True)}


def figure(result, workload):
    if workload == "latency":
        return result["median_us"]
    if workload == "throughput":
        return result["bytes"] / result["seconds"] / 1e6
    return result["messages"] / result["seconds"]


def summary(results, workload, count, size):
    """Medians over the runs that went well; None when none did."""
    good = [r for r in results if r.get("ok")]
    if not good:
        return None
    seconds = statistics.median(r["seconds"] for r in good)
    line = {"ok_runs": len(good), "seconds": round(seconds, 4), "messages_per_s": round(count / seconds),
            "MB_per_s": round(count * size / seconds / 1e6, 1)}
    if workload == "latency":
        line["median_us"] = statistics.median(r["median_us"] for r in good)
        line["p99_us"] = statistics.median(r["p99_us"] for r in good)
    line["each_run_" + FIGURES[workload][0]] = [round(figure(r, workload), 2) for r in good]
    if all("peak_rss_kib" in r for r in good):
        line["peak_rss_kib"] = statistics.median(r["peak_rss_kib"] for r in good)
    return line


def compare(line, clients, workload):
    """morvane/beast on the medians, and the median of the per-round ratios
    (each pair saw the machine in the same state, the steadier figure)."""
    key, _, higher_better = FIGURES[workload]
    m, b = line.get("morvane"), line.get("beast")
    if not m or not b:
        return
    line["morvane_vs_beast"] = round(m[key] / b[key], 3)
    line["better"] = "higher" if higher_better else "lower"
    pairs = [figure(x, workload) / figure(y, workload) for x, y in zip(clients["morvane"], clients["beast"])
             if x.get("ok") and y.get("ok")]
    if pairs:
        line["morvane_vs_beast_per_round"] = round(statistics.median(pairs), 3)
    if line.get("tcp"):
        line["morvane_vs_tcp"] = round(m[key] / line["tcp"][key], 3)
    if line.get("tcp-epoll"):
        line["morvane_vs_tcp_epoll"] = round(m[key] / line["tcp-epoll"][key], 3)
    if line.get("floor"):
        line["morvane_vs_floor"] = round(m[key] / line["floor"][key], 3)


def number(value, unit):
    if value is None:
        return "-"
    if unit == "msg/s":
        return f"{value / 1e6:.2f}M"
    return f"{value:.1f}"


def print_table(lines):
    head = (f"{'':<22}{'unit':<6}{'morvane':>9}{'beast':>9}{'raw TCP':>9}  {'morvane/beast':<20}"
            f"{'p99 morvane':>12}{'p99 beast':>10}{'RSS MiB m/b':>14}")
    print(head)
    print("-" * len(head))
    for line in lines:
        key, unit, _ = FIGURES[line["workload"]]
        title = f"{line['id']} {line['workload']} {line['scheme']}"
        get = (lambda name, k=key: line[name][k] if line.get(name) else None)
        ratio = (f"{line['morvane_vs_beast']:.2f} ({line['better']} better)" if "morvane_vs_beast" in line
                 else " and ".join(n for n in ("morvane", "beast") if not line.get(n)) + " failed")
        p99 = [number(line[n]["p99_us"], "us") if line.get(n) and "p99_us" in line[n] else "" for n in
               ("morvane", "beast")]
        rss = [f"{line[n]['peak_rss_kib'] / 1024:.0f}" if line.get(n) and "peak_rss_kib" in line[n] else "-" for n in
               ("morvane", "beast")]
        tcp = number(get("tcp"), unit) if "tcp" in line else ""
        print(f"{title:<22}{unit:<6}{number(get('morvane'), unit):>9}{number(get('beast'), unit):>9}{tcp:>9}  "
              f"{ratio:<20}{p99[0]:>12}{p99[1]:>10}{rss[0] + '/' + rss[1]:>14}")
    print("(medians over the runs; MB = 10^6 B one way; msg/s in millions; RSS: peak resident set per process)")
    for line in lines:
        if not line.get("tcp") or not line.get("tcp-epoll"):
            continue
        block = line["tcp"]["median_us"]
        waits = [f"blocking {block:.1f}"] + [
            f"{how} {line[name]['median_us']:.1f} (+{line[name]['median_us'] - block:.1f})"
            for name, how in (("tcp-epoll", "epoll then receive"), ("tcp-uring", "io_uring receive in the wait"))
            if line.get(name)]
        print(f"{line['id']} plain TCP by how the client waits, us: {', '.join(waits)}")
    for line in lines:
        if not line.get("tcp") or not line.get("floor"):
            continue
        key, unit, higher_better = FIGURES[line["workload"]]
        floor = line["floor"][key]
        shares = ", ".join(f"{name} {line[name][key] / floor:.2f}" for name in ("morvane", "beast") if line.get(name))
        print(f"{line['id']} the protocol's floor: {number(floor, unit)} {unit}, {floor / line['tcp'][key]:.2f} times "
              f"plain TCP; the clients, times the floor ({'higher' if higher_better else 'lower'} better): {shares}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--only", help="the workloads to run, by id (W1,W4); all when not given")
    parser.add_argument("--cpus", choices=("same", "split"), help="pin the server and the clients (see above)")
    parser.add_argument("--strict", action="store_true", help="also morvane with StrictProtocol on")
    args = parser.parse_args()
    known = [w[0] for w in WORKLOADS]
    wanted = set(args.only.upper().split(",")) if args.only else set(known)
    if wanted - set(known):
        parser.error(f"--only: {', '.join(sorted(wanted - set(known)))} is not one of {', '.join(known)}")
    chosen = [w for w in WORKLOADS if w[0] in wanted]
    server_cpu = 0 if args.cpus else None
    client_cpu = {"same": 0, "split": 1}.get(args.cpus)
    if args.cpus and not {server_cpu, client_cpu} <= os.sched_getaffinity(0):
        parser.error(f"--cpus {args.cpus} needs CPU {' and '.join(map(str, sorted({server_cpu, client_cpu})))}")
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

    lines, failed = [], False
    for name, workload, count, size, tls in chosen:
        server_env = dict(os.environ, BENCH_TLS_CERT=cert, BENCH_TLS_KEY=key) if tls else None
        client_env = dict(env, BENCH_CAFILE=cert) if tls else dict(env)
        if server_cpu is not None:
            client_env["BENCH_SERVER_CPU"] = str(server_cpu)  # for tcp_reference's own echo process
        server = subprocess.Popen([os.path.join(build, "bench/websocket_bench_server"), "0", str(count), str(size)],
                                  stdout=subprocess.PIPE, text=True, env=server_env, preexec_fn=pinned(server_cpu))
        port = server.stdout.readline().split()[1]
        url = f"{'wss' if tls else 'ws'}://127.0.0.1:{port}/"
        commands = {"morvane": [os.path.join(build, "tools/morvane/morvane"), "--bench", workload, url],
                    "beast": [os.path.join(build, "bench/beast_reference_client"), workload, url]}
        if args.strict:
            commands["morvane-strict"] = [commands["morvane"][0], "--config", "StrictProtocol=True",
                                          *commands["morvane"][1:]]
        if not tls:
            commands["tcp"] = [os.path.join(build, "bench/tcp_reference"), workload]
            if workload != "burst":
                commands["floor"] = [os.path.join(build, "bench/websocket_floor"), workload, url]
        # How a loop-driven client waits, for the latency workload on plain TCP
        # (the io_uring one only where it can run: it counts as no failure).
        waits = {"tcp-epoll": "epoll", "tcp-uring": "uring"} if workload == "latency" and not tls else {}
        for client in waits:
            commands[client] = commands["tcp"]
        order = list(commands)
        clients = {client: [] for client in order}
        unavailable = set()
        try:
            for round_number in range(args.runs):
                for client in order[round_number % len(order):] + order[:round_number % len(order)]:
                    if client in unavailable:
                        continue
                    wait = [waits[client]] if client in waits else []
                    result = run(commands[client] + [str(count), str(size)] + wait, client_env, client_cpu)
                    if not result.get("ok") and client == "tcp-uring":
                        print(f"{name} {client} left out: {result.get('error')}", file=sys.stderr)
                        unavailable.add(client)
                    elif not result.get("ok"):
                        failed = True
                        print(f"{name} {client} run {round_number + 1} failed: {result.get('error')}",
                              file=sys.stderr)
                    clients[client].append(result)
        finally:
            server.kill()
            server.wait()
        line = {"id": name, "workload": workload, "scheme": "wss" if tls else "ws", "count": count, "size": size,
                "runs": args.runs, "cpus": args.cpus or "any"}
        for client, results in clients.items():
            line[client] = summary(results, workload, count, size)
        compare(line, clients, workload)
        lines.append(line)
        print(f"{name} done", file=sys.stderr, flush=True)
    print_table(lines)
    for line in lines:
        if line.get("morvane") and line.get("morvane-strict"):
            key, unit, higher_is_better = FIGURES[line["workload"]]
            lax, strict = line["morvane"][key], line["morvane-strict"][key]
            # As time taken: the figure is a rate, or a latency.
            cost = lax / strict - 1 if higher_is_better else strict / lax - 1
            line["strict_cost"] = round(cost, 4)
            print(f"{line['id']} StrictProtocol: {strict:g} against {lax:g} {unit}, {cost:+.1%} time")
    for line in lines:
        print(json.dumps(line), flush=True)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
