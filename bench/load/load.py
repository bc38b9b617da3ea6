"""bench/load/run's harness: publishes the sample app, starts each scenario's servers on
loopback, drives them with wrk and prints the table. See bench/load/run."""

import argparse
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from nginx import free_port  # noqa: E402  (bench/run's harness)

CHECK_PATH = "/apps/shop/channels/check-device"
SCENARIOS = ("one", "two", "static")
TITLES = {"one": "one qelvo-deploy-server",
          "two": "two instances behind nginx",
          "static": "nginx, fixed JSON (anchor)"}


def parse_arguments():
    parser = argparse.ArgumentParser(prog="bench/load/run")
    parser.add_argument("--root", required=True, help="the repository")
    parser.add_argument("--build", required=True, help="the build directory with the tools")
    parser.add_argument("--duration", type=int, default=10, help="seconds per measurement (default 10)")
    parser.add_argument("--connections", default="100,1000", help="connection counts (default 100,1000)")
    parser.add_argument("--only", default=",".join(SCENARIOS), help="scenarios: one, two, static")
    parser.add_argument("--markdown", help="also write the table to this file")
    return parser.parse_args()


class Server:
    """A server process on loopback, its output in a file."""

    def __init__(self, argv, log, port, stop_signal=signal.SIGTERM):
        self.port = port
        self.stop_signal = stop_signal
        with open(log, "wb") as out:
            self.process = subprocess.Popen(argv, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{argv[0]} ended at start; see {log}")
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.02)
        raise RuntimeError(f"{argv[0]} did not listen within 10 s; see {log}")

    def pids(self):
        """The process and its children (nginx's workers)."""
        children = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open(f"/proc/{entry}/stat") as stat:
                        if int(stat.read().rsplit(")", 1)[1].split()[1]) == self.process.pid:
                            children.append(int(entry))
                except (OSError, IndexError, ValueError):
                    pass
        return [self.process.pid] + children

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(self.stop_signal)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def peak_rss_mib(servers):
    """Peak resident memory (VmHWM) of the servers' processes, added up."""
    total = 0
    for server in servers:
        for pid in server.pids():
            try:
                with open(f"/proc/{pid}/status") as status:
                    for line in status:
                        if line.startswith("VmHWM:"):
                            total += int(line.split()[1])
            except OSError:
                pass
    return total / 1024


def check_body():
    return json.dumps({"device": {"platform": "ios", "platform_version": "17.4",
                                  "binary_version": "1.0.0",
                                  "device_id": "6F1C2D3E-4B5A-4C6D-8E9F-0A1B2C3D4E5F"},
                       "manifest": False, "app_id": "shop", "channel_name": "production",
                       "plugin_version": "6.0.0", "is_zarrows": False}, separators=(",", ":"))


def post(port, body):
    request = urllib.request.Request(f"http://127.0.0.1:{port}{CHECK_PATH}", data=body.encode(),
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=5) as answer:
        return answer.read().decode()


def replaced(text, old, new):
    if old not in text:
        raise RuntimeError(f'the shipped nginx site has no "{old}"')
    return text.replace(old, new)


class Bench:
    def __init__(self, args, work):
        self.args = args
        self.work = work
        self.root = os.path.join(work, "root")
        self.server_tool = os.path.join(args.build, "tools", "qelvo-deploy-server")
        self.body_file = os.path.join(work, "check.json")
        with open(self.body_file, "w") as out:
            out.write(check_body())
        subprocess.run([os.path.join(args.build, "tools", "qelvo-publish"), "publish", "--root", self.root,
                        "--app", "shop", "--channel", "production", "--snapshot", "v1",
                        os.path.join(args.root, "examples", "sample-app")],
                       check=True, stdout=subprocess.DEVNULL)
        self.count = 0

    def log(self, name):
        self.count += 1
        return os.path.join(self.work, f"{self.count:02d}-{name}.log")

    def instance(self):
        port = free_port()
        # One files origin for all, so that every scenario gives the very same answer.
        return Server([self.server_tool, "--root", self.root, "--listen", f"127.0.0.1:{port}",
                       "--files-url", "https://files.example.com/apps"],
                      self.log("instance"), port)

    def nginx(self, site, static_answer=None):
        directory = os.path.join(self.work, f"nginx-{self.count}")
        os.makedirs(directory, exist_ok=True)
        port = free_port()
        servers = ""
        if site:
            servers += replaced(site, "listen 80;", f"listen 127.0.0.1:{port} backlog=4096;")
        if static_answer is not None:
            answer = static_answer.replace("'", "\\'")
            servers += f"""
server {{
    listen 127.0.0.1:{port} backlog=4096;
    location = {CHECK_PATH} {{
        default_type application/json;
        add_header Cache-Control no-store;
        return 200 '{answer}';
    }}
}}
"""
        config = os.path.join(directory, "nginx.conf")
        with open(config, "w") as out:
            out.write(f"""
daemon off;
worker_processes auto;
worker_rlimit_nofile 16384;
pid {directory}/nginx.pid;
error_log {directory}/error.log warn;
events {{ worker_connections 8192; }}
http {{
    access_log {directory}/access.log combined buffer=64k flush=1s;
    client_body_temp_path {directory}/body;
    proxy_temp_path {directory}/proxy;
    fastcgi_temp_path {directory}/fastcgi;
    uwsgi_temp_path {directory}/uwsgi;
    scgi_temp_path {directory}/scgi;
    keepalive_requests 100000;
{servers}
}}
""")
        return Server(["nginx", "-p", directory + "/", "-e", os.path.join(directory, "error.log"), "-c", config],
                      self.log("nginx"), port, signal.SIGQUIT)

    def start(self, scenario, static_answer):
        if scenario == "one":
            server = self.instance()
            return server.port, [server]
        if scenario == "two":
            a, b = self.instance(), self.instance()
            with open(os.path.join(self.args.root, "deploy", "nginx", "qelvo-deploy.conf")) as shipped:
                site = shipped.read()
            site = replaced(site, "/srv/qelvo-deploy", self.root)
            site = replaced(site, "127.0.0.1:8787", f"127.0.0.1:{a.port}")
            site = replaced(site, "127.0.0.1:8788", f"127.0.0.1:{b.port}")
            front = self.nginx(site)
            return front.port, [a, b, front]
        front = self.nginx(None, static_answer)
        return front.port, [front]

    def wrk(self, port, connections, duration):
        lua = os.path.join(self.args.root, "bench", "load", "check.lua")
        command = ["wrk", "-t2", f"-c{connections}", f"-d{duration}s", "--latency", "--timeout", "5s",
                   "-s", lua, f"http://127.0.0.1:{port}{CHECK_PATH}", "--", self.body_file]
        output = subprocess.run(command, check=True, capture_output=True, text=True).stdout
        return parse_wrk(output)

    def measure(self, scenario, connections, static_answer):
        port, servers = self.start(scenario, static_answer)
        try:
            if scenario != "static" and post(port, check_body()) != static_answer:
                raise RuntimeError("the answer through the scenario differs from the anchor's")
            self.wrk(port, connections, 2)  # warm-up: connections opened, caches filled
            result = self.wrk(port, connections, self.args.duration)
            result["rss"] = peak_rss_mib(servers)
            return result
        finally:
            for server in reversed(servers):
                server.stop()


def to_ms(value, unit):
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


def parse_wrk(output):
    result = {"rate": float(re.search(r"Requests/sec:\s+([\d.]+)", output).group(1)),
              "requests": int(re.search(r"(\d+) requests in", output).group(1))}
    for percentile in ("50", "99"):
        match = re.search(rf"^\s+{percentile}%\s+([\d.]+)(us|ms|s)\s*$", output, re.MULTILINE)
        result[f"p{percentile}"] = to_ms(*match.groups())
    errors = 0
    sockets = re.search(r"Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+)", output)
    if sockets:
        errors += sum(int(n) for n in sockets.groups())
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", output)
    if non2xx:
        errors += int(non2xx.group(1))
    result["errors"] = errors
    return result


def table(results, connection_counts, scenarios):
    lines = ["| scenario | connections | checks/s | vs anchor | p50 ms | p99 ms | errors | peak RSS MiB |",
             "|---|---|---|---|---|---|---|---|"]
    for connections in connection_counts:
        anchor = results.get(("static", connections))
        for scenario in scenarios:
            r = results[(scenario, connections)]
            ratio = f"{r['rate'] / anchor['rate']:.2f}" if anchor else "-"
            lines.append(f"| {TITLES[scenario]} | {connections} | {r['rate']:,.0f} | {ratio} | "
                         f"{r['p50']:.2f} | {r['p99']:.2f} | {r['errors']} | {r['rss']:.0f} |")
    goals = []
    for connections in connection_counts:
        one, anchor = results.get(("one", connections)), results.get(("static", connections))
        if one and anchor:
            ok = one["rate"] >= 0.5 * anchor["rate"]
            goals.append(f"- {connections} connections: one instance at {one['rate'] / anchor['rate']:.2f} "
                         f"of nginx's rate (goal >= 0.5): {'ok' if ok else 'MISSED'}")
    for scenario in ("one", "two"):
        r = results.get((scenario, 1000))
        if r:
            goals.append(f"- {TITLES[scenario]}, 1000 connections: p99 {r['p99']:.1f} ms (goal < 50): "
                         f"{'ok' if r['p99'] < 50 else 'MISSED'}")
    errors = sum(r["errors"] for r in results.values())
    goals.append(f"- errors over all runs: {errors} (goal 0): {'ok' if errors == 0 else 'MISSED'}")
    return "\n".join(lines + [""] + goals)


def main():
    args = parse_arguments()
    connection_counts = [int(n) for n in args.connections.split(",")]
    scenarios = [s for s in SCENARIOS if s in args.only.split(",")]
    work = tempfile.mkdtemp(prefix="qelvo-load-")
    os.chmod(work, 0o755)  # nginx's workers read the root as their own user
    try:
        bench = Bench(args, work)
        probe = bench.instance()
        try:
            static_answer = post(probe.port, check_body())
        finally:
            probe.stop()
        print(f"{os.cpu_count()} cores; the check answer is {len(static_answer)} bytes; "
              f"{args.duration} s per run, after a 2 s warm-up", flush=True)
        results = {}
        for connections in connection_counts:
            for scenario in scenarios:
                results[(scenario, connections)] = bench.measure(scenario, connections, static_answer)
                r = results[(scenario, connections)]
                print(f"  {TITLES[scenario]}, {connections} connections: {r['rate']:,.0f} checks/s, "
                      f"p99 {r['p99']:.1f} ms, {r['errors']} errors", flush=True)
        text = table(results, connection_counts, scenarios)
        print()
        print(text)
        if args.markdown:
            with open(args.markdown, "w") as out:
                out.write(text + "\n")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
