"""One measured command: wall time, peak RSS, threads and file data written from the
launcher, TCP connections, requests and bytes sent (headers included) from nginx's
access log."""

import os
import statistics
import subprocess
from dataclasses import dataclass


@dataclass
class Measurement:
    seconds: float
    peak_kib: int = 0
    threads: int = 0
    connections: int = 0
    requests: int = 0
    bytes: int = 0  # received from nginx: headers and bodies
    written_kib: int = 0  # file data written towards the disk


class CommandFailed(RuntimeError):
    pass


class Runner:
    def __init__(self, launcher, nginx):
        self.launcher = launcher
        self.nginx = nginx

    def run(self, argv, stdout=None):
        # Each run starts with no dirty pages pending, so none pays for the writeback of
        # the run before it.
        os.sync()
        offset = self.nginx.log_offset()
        command = [self.launcher] + (["--stdout", stdout] if stdout else []) + ["--"] + argv
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0 or not done.stdout.strip():
            raise CommandFailed(f"launcher failed for {argv[:6]}: {done.stderr.strip()}")
        status, seconds, kib, threads, written = done.stdout.split()
        if status != "0":
            raise CommandFailed(f"exit {status}: {' '.join(argv)[:400]}\n{done.stderr.strip()[-2000:]}")
        connections, requests, _, sent = self.nginx.traffic_since(offset)
        return Measurement(float(seconds), int(kib), int(threads), connections, requests, sent,
                           int(written))

    def shell(self, script, stdout=None):
        return self.run(["sh", "-c", script], stdout)


def median(measurements):
    """Medians of each figure, except peak RSS and threads: the largest seen."""
    if not measurements:
        return None
    return Measurement(
        seconds=statistics.median(m.seconds for m in measurements),
        peak_kib=max(m.peak_kib for m in measurements),
        threads=max(m.threads for m in measurements),
        connections=int(statistics.median(m.connections for m in measurements)),
        requests=int(statistics.median(m.requests for m in measurements)),
        bytes=int(statistics.median(m.bytes for m in measurements)),
        written_kib=int(statistics.median(m.written_kib for m in measurements)),
    )


def count_files(directory):
    return sum(len(files) for _, _, files in os.walk(directory))


def require_files(directory, expected):
    found = count_files(directory)
    if found != expected:
        raise CommandFailed(f"{directory} holds {found} files, not {expected}")
