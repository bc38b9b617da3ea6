"""The real-release scenario: two consecutive releases of a front-end package from the
npm registry (fetched with npm pack into the work directory, never kept), published with
patches and without, served by nginx with gzip on. Measured for the update from the
older release to the newer, N times each:

  - the library with patches (the differential strategy, one process per sync),
  - the library without patches (every changed file fetched whole, gzip-compressed),
  - the tools: one curl fetching every changed file gzip-compressed (--compressed).

Prints bytes on the wire (response bodies, from nginx's access log) and wall time,
medians, and the two ratios the goals are set on.
"""

import hashlib
import os
import subprocess
import tarfile
import time

from statistics import median
from nginx import Nginx

APP = "real"
CHANNEL = "production"


class GzipNginx(Nginx):
    """nginx as the bench serves, with every response gzip-compressed as a CDN would."""

    def _config(self):
        return super()._config().replace(
            "sendfile on;", "gzip on; gzip_comp_level 6; gzip_min_length 0; gzip_types *;\n  sendfile on;")


def fetch_release(package, work):
    """The files of `package` (NAME@VERSION) as npm publishes them, in a directory."""
    target = os.path.join(work, "releases", package.replace("/", "_"))
    tgz = subprocess.run(["npm", "pack", "--silent", package], cwd=work, check=True,
                         capture_output=True, text=True).stdout.strip().splitlines()[-1]
    with tarfile.open(os.path.join(work, tgz)) as archive:
        archive.extractall(target, filter="data")
    os.unlink(os.path.join(work, tgz))
    return os.path.join(target, "package")


def digests(root):
    found = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as content:
                found[os.path.relpath(path, root)] = hashlib.sha256(content.read()).digest()
    return found


def changed_files(old, new):
    before, after = digests(old), digests(new)
    return sorted(href for href, digest in after.items() if before.get(href) != digest)


def publish(publisher, root, snapshot, build, source, patches):
    subprocess.run([publisher, "publish", "--root", root, "--app", APP, "--snapshot", snapshot,
                    "--build", str(build), "--patch-from-last", "2" if patches else "0", source],
                   check=True, stdout=subprocess.DEVNULL)


def manifest_path(snapshot):
    return f"/apps/{APP}/snapshots/{snapshot}/files/live-update-manifest.json"


class RealRelease:
    def __init__(self, work, tools, older, newer):
        self.work = work
        self.tools = tools  # {"publish": path, "cli": path}
        self.older, self.newer = older, newer
        self.servers = {}

    def prepare(self):
        old = fetch_release(self.older, self.work)
        new = fetch_release(self.newer, self.work)
        self.changed = changed_files(old, new)
        self.new_tree = new
        changed_bytes = sum(os.path.getsize(os.path.join(new, href)) for href in self.changed)
        print(f"{self.older} -> {self.newer}: {len(self.changed)} of {len(digests(new))} files "
              f"changed, {changed_bytes / 2**20:.1f} MiB", flush=True)
        for variant, patches in (("patches", True), ("whole", False)):
            root = os.path.join(self.work, "deploy-" + variant)
            start = time.monotonic()
            publish(self.tools["publish"], root, "old", 1, old, patches)
            publish(self.tools["publish"], root, "new", 2, new, patches)
            if patches:
                print(f"published with patches in {time.monotonic() - start:.1f} s", flush=True)
            offers = {("old", APP): ("old", 1, manifest_path("old")),
                      ("new", APP): ("new", 2, manifest_path("new"))}
            directory = os.path.join(self.work, "nginx-" + variant)
            os.makedirs(directory)
            server = GzipNginx(directory, root, offers)
            server.start()
            self.servers[variant] = server

    def stop(self):
        for server in self.servers.values():
            server.stop()

    def _sync(self, server, data_dir, offer):
        argv = [self.tools["cli"], "--data-dir", data_dir, "--server",
                f"{server.http}/{offer}/apps", "sync", f"{APP}:{CHANNEL}:differential"]
        result = subprocess.run(argv, capture_output=True, text=True)
        if result.returncode != 0 or '"ok":false' in result.stdout:
            raise RuntimeError(f"{' '.join(argv)} failed:\n{result.stdout[-3000:]}{result.stderr[-3000:]}")

    def library(self, variant, run):
        """(seconds, body bytes) of the update from the older release to the newer."""
        server = self.servers[variant]
        data_dir = os.path.join(self.work, f"device-{variant}-{run}")
        self._sync(server, data_dir, "old")
        offset = server.log_offset()
        start = time.monotonic()
        self._sync(server, data_dir, "new")
        seconds = time.monotonic() - start
        return seconds, server.traffic_since(offset)[2]

    def tools_side(self, run):
        """(seconds, body bytes) of curl fetching the changed files gzip-compressed."""
        server = self.servers["whole"]
        target = os.path.join(self.work, f"curl-{run}")
        config = os.path.join(self.work, f"curl-{run}.txt")
        with open(config, "w") as out:
            for href in self.changed:
                url = f"{server.http}/apps/{APP}/snapshots/new/files/{href}"
                out.write(f'url = "{url}"\noutput = "{os.path.join(target, href)}"\n')
        offset = server.log_offset()
        start = time.monotonic()
        subprocess.run(["curl", "-sS", "--fail", "--compressed", "--create-dirs", "-K", config],
                       check=True)
        seconds = time.monotonic() - start
        return seconds, server.traffic_since(offset)[2]


def run(work, tools, repeat, older="monaco-editor@0.52.0", newer="monaco-editor@0.52.2"):
    scenario = RealRelease(work, tools, older, newer)
    try:
        scenario.prepare()
        results = {"patches": [], "whole": [], "tools": []}
        for index in range(repeat):
            # Each side goes first in turn.
            sides = ["patches", "whole", "tools"]
            for side in sides[index % 3:] + sides[:index % 3]:
                results[side].append(scenario.tools_side(index) if side == "tools"
                                     else scenario.library(side, index))
    finally:
        scenario.stop()
    rows = {side: (median([r[0] for r in runs]), median([r[1] for r in runs]))
            for side, runs in results.items()}
    print(f"\nreal release {older} -> {newer}, medians of {repeat}:")
    print(f"  {'':38} {'time':>9} {'bytes on the wire':>18}")
    for side, title in (("patches", "library, differential with patches"),
                        ("whole", "library, differential without patches"),
                        ("tools", "curl --compressed of the changed files")):
        seconds, sent = rows[side]
        print(f"  {title:38} {seconds:8.2f}s {sent / 1024:15.0f} KiB")
    print(f"  bytes: tools / patches = {rows['tools'][1] / max(rows['patches'][1], 1):.1f}x "
          f"(goal >= 20x); time: patches / without = "
          f"{rows['patches'][0] / rows['whole'][0]:.2f} (goal <= 1.0)")
    return rows


if __name__ == "__main__":
    import argparse
    import tempfile

    parser = argparse.ArgumentParser(prog="real_release.py")
    parser.add_argument("--build", required=True, help="the build directory with the tools")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--older", default="monaco-editor@0.52.0")
    parser.add_argument("--newer", default="monaco-editor@0.52.2")
    arguments = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="qelvo-real-release-", dir="/var/tmp") as work:
        os.chmod(work, 0o755)  # nginx's workers run as another user
        run(work, {"publish": os.path.join(arguments.build, "tools", "qelvo-publish"),
                   "cli": os.path.join(arguments.build, "tools", "qelvo-live-update")},
            arguments.repeat, arguments.older, arguments.newer)
