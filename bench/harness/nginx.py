"""nginx serving a deploy root on loopback, as a child process with a prefix of its own.

One server block speaks HTTP/1.1, another HTTP/2 over TLS with a certificate made on
the fly. Files are served straight from the deploy root's layout; check-device POSTs
are answered with fixed JSON per "offer" prefix: a host given the base URL
<origin>/<offer>/apps is offered that offer's snapshot. The access log records the
connection serial of every request, so a run's TCP connections can be counted, and the
bytes of each answer's body and of the whole answer (headers included: what a client
receives, before TLS).
"""

import json
import os
import signal
import socket
import subprocess
import time

LOG_FORMAT = "'$connection $status $body_bytes_sent $bytes_sent $request_method $uri'"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def make_certificate(directory):
    key = os.path.join(directory, "server.key")
    cert = os.path.join(directory, "server.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return key, cert


def check_answer(origin, snapshot, build, path):
    return json.dumps({"data": {"available": True, "partial": False, "compatible": True,
                                "incompatibleUpdateAvailable": False, "snapshot": snapshot,
                                "build": build, "url": origin + path}},
                      separators=(",", ":"))


class Nginx:
    def __init__(self, directory, deploy_root, offers):
        """`offers`: {(offer, app): (snapshot, build, path served under the origin)}."""
        self.directory = directory
        self.deploy_root = deploy_root
        self.offers = offers
        self.http_port = free_port()
        self.https_port = free_port()
        self.http = f"http://127.0.0.1:{self.http_port}"
        self.https = f"https://127.0.0.1:{self.https_port}"
        self.log = os.path.join(directory, "access.log")
        self.key, self.certificate = make_certificate(directory)
        self.process = None

    def _locations(self, origin):
        blocks = []
        for (offer, app), (snapshot, build, path) in sorted(self.offers.items()):
            answer = check_answer(origin, snapshot, build, path).replace("'", "\\'")
            blocks.append(f"""
    location = /{offer}/apps/{app}/channels/check-device {{
      default_type application/json;
      return 200 '{answer}';
    }}""")
        return "".join(blocks)

    def _config(self):
        temp = os.path.join(self.directory, "temp")
        os.makedirs(temp, exist_ok=True)
        return f"""
daemon off;
worker_processes 2;
pid {self.directory}/nginx.pid;
error_log {self.directory}/error.log warn;
events {{ worker_connections 4096; }}
http {{
  types {{ application/json json; application/zip zip; text/html html; }}
  default_type application/octet-stream;
  log_format bench {LOG_FORMAT};
  access_log {self.log} bench;
  client_body_temp_path {temp}/body;
  proxy_temp_path {temp}/proxy;
  fastcgi_temp_path {temp}/fastcgi;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_timeout 60s;
  keepalive_requests 100000;
  open_file_cache max=30000 inactive=120s;
  root {self.deploy_root};
  server {{
    listen 127.0.0.1:{self.http_port};{self._locations(self.http)}
  }}
  server {{
    listen 127.0.0.1:{self.https_port} ssl http2;
    ssl_certificate {self.certificate};
    ssl_certificate_key {self.key};
    ssl_protocols TLSv1.2 TLSv1.3;{self._locations(self.https)}
  }}
}}
"""

    def start(self):
        config = os.path.join(self.directory, "nginx.conf")
        with open(config, "w") as out:
            out.write(self._config())
        self.process = subprocess.Popen(
            ["nginx", "-p", self.directory, "-e", os.path.join(self.directory, "error.log"),
             "-c", config], stdout=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError("nginx did not start; see " + os.path.join(self.directory, "error.log"))
            try:
                socket.create_connection(("127.0.0.1", self.https_port), timeout=0.2).close()
                socket.create_connection(("127.0.0.1", self.http_port), timeout=0.2).close()
                return
            except OSError:
                time.sleep(0.05)
        raise RuntimeError("nginx did not listen within 10 s")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGQUIT)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def log_offset(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def traffic_since(self, offset):
        """(TCP connections, requests, body bytes, bytes sent with their headers) logged
        after `offset`."""
        time.sleep(0.02)  # the last response's log line follows its last byte
        connections = set()
        requests = 0
        bodies = 0
        sent = 0
        with open(self.log, "rb") as log:
            log.seek(offset)
            for line in log:
                fields = line.split()
                if len(fields) < 4:
                    continue
                connections.add(fields[0])
                requests += 1
                bodies += int(fields[2])
                sent += int(fields[3])
        return len(connections), requests, bodies, sent
