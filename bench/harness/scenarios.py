"""The measured scenarios: each a library sync through the command-line host next to
standard tools doing the same work against the same nginx, in fresh directories.

Every tools' side is measured twice: as it is, and followed by `sync -f` of what it
wrote, as the library writes every snapshot back to disk before it records it (the
like-for-like anchor that the goals are set against)."""

import json
import os
import shlex
import subprocess
from dataclasses import dataclass, field
from typing import Callable, Optional

from measure import Measurement, require_files

MANIFEST = "live-update-manifest.json"
APP_CHANNEL = "production"


@dataclass
class Published:
    """One app in the deploy root: v1 and its next version v2."""
    app: str
    v1: object  # bundles.Bundle
    v2: object


@dataclass
class Scenario:
    key: str
    title: str
    tools_title: str
    goal: Optional[float]  # the wanted ratio library / tools written back, if any
    ours: Callable
    tools: Callable  # tools(run, writeback): writeback adds `sync -f` of what they wrote
    prepare: Callable = lambda run: None
    extra: Callable = None  # more measurements after both sides: {name: Measurement}
    writes: bool = True  # False: the tools write nothing, so nothing to write back


@dataclass
class Tools:
    cli: str
    host: str
    certificate: str
    public_key: str


class Scenarios:
    def __init__(self, runner, nginx, tools, deploy_root):
        self.runner = runner
        self.nginx = nginx
        self.tools = tools
        self.deploy_root = deploy_root

    # ---- the library side ------------------------------------------------------------

    def _cli(self, data_dir, origin, offer, app, strategy, secure=False, quiet=True, share=False):
        argv = [self.tools.cli, "--data-dir", data_dir, "--server", f"{origin}/{offer}/apps"]
        if quiet:
            argv.append("--quiet")
        if share:
            argv.append("--share-unchanged")
        if origin.startswith("https"):
            argv += ["--ca-file", self.tools.certificate]
        if secure:
            argv += ["--name", "bench", "--public-key", self.tools.public_key]
        return argv + ["sync", f"{app}:{APP_CHANNEL}:{strategy}"]

    def _sync(self, run, name, origin, offer, app, strategy, secure=False, quiet=True, measured=True,
              share=False):
        data_dir = os.path.join(run, name)
        argv = self._cli(data_dir, origin, offer, app, strategy, secure, quiet, share)
        output = os.path.join(run, name + ".out")
        if not measured:
            subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
            return None
        measurement = self.runner.run(argv, stdout=output)
        with open(output) as lines:
            for line in lines:
                if line.startswith("{") and '"ok":false' in line:
                    raise RuntimeError(line)
        return measurement

    @staticmethod
    def snapshot(run, name, app, snapshot):
        return os.path.join(run, name, "Library", "qelvo_apps", app, snapshot)

    # ---- the tools' side -------------------------------------------------------------

    @staticmethod
    def _out(run, name, writeback):
        return os.path.join(run, "tools-" + name + ("-f" if writeback else ""))

    @staticmethod
    def _written_back(script, out, writeback):
        """`script`, followed by writing back the filesystem `out` is on when asked."""
        return f"{script} && sync -f {shlex.quote(out)}" if writeback else script

    def _files_url(self, origin, app, snapshot):
        return f"{origin}/apps/{app}/snapshots/{snapshot}/files/"

    def _curl_config(self, path, origin, app, snapshot, hrefs, out):
        base = self._files_url(origin, app, snapshot)
        with open(path, "w") as config:
            config.write("no-progress-meter\nshow-error\nfail\ncreate-dirs\nparallel\n"
                         "parallel-max = 50\n")
            config.write("http2\n" if origin.startswith("https") else "http1.1\n")
            if origin.startswith("https"):
                config.write(f'cacert = "{self.tools.certificate}"\n')
            for href in hrefs:
                config.write(f'url = "{base}{href}"\noutput = "{os.path.join(out, href)}"\n')
        return path

    def _curl_parallel(self, run, origin, app, snapshot, hrefs, out):
        config = self._curl_config(os.path.join(run, f"curl-{snapshot}.cfg"), origin, app,
                                   snapshot, hrefs, out)
        return f"curl -K {shlex.quote(config)}"

    @staticmethod
    def _copy_parents(run, source, hrefs, out):
        listing = os.path.join(run, "unchanged.list")
        with open(listing, "wb") as names:
            names.write(b"\0".join(href.encode() for href in hrefs) + b"\0")
        return (f"mkdir -p {shlex.quote(out)} && cd {shlex.quote(source)} && "
                f"xargs -0 -a {shlex.quote(listing)} cp --parents -t {shlex.quote(out)}")

    @staticmethod
    def _digest_all(directory, files):
        half = (files + 1) // 2
        return (f"find {shlex.quote(directory)} -type f -print0 | "
                f"xargs -0 -P2 -n {half} openssl dgst -sha256 >/dev/null")

    # ---- the scenarios ---------------------------------------------------------------

    def zip(self, published):
        app, v1 = published.app, published.v1
        files = len(v1.files) + 1

        def ours(run):
            measured = self._sync(run, "zip", self.nginx.http, "zip", app, "zip")
            require_files(self.snapshot(run, "zip", app, "v1"), files)
            return measured

        def tools(run, writeback=False):
            out = self._out(run, "zip", writeback)
            archive = out + ".zip"
            url = f"{self.nginx.http}/apps/{app}/snapshots/v1/bundle.zip"
            measured = self.runner.shell(self._written_back(
                f"curl -sS --fail -o {archive} {url} && unzip -q {archive} -d {out} && rm {archive}",
                out, writeback))
            require_files(out, files)
            return measured

        return Scenario("zip", "zip sync", "curl && unzip", 0.5, ours, tools)

    def full(self, published, https=False, quiet=True):
        app, v1 = published.app, published.v1
        origin = self.nginx.https if https else self.nginx.http
        files = len(v1.files) + 1
        name = "full-h2" if https else "full"
        hrefs = [MANIFEST] + sorted(v1.files)

        def ours(run):
            measured = self._sync(run, name, origin, "v1", app, "differential", quiet=quiet)
            require_files(self.snapshot(run, name, app, "v1"), files)
            return measured

        def tools(run, writeback=False):
            out = self._out(run, name, writeback)
            measured = self.runner.shell(self._written_back(
                self._curl_parallel(run, origin, app, "v1", hrefs, out), out, writeback))
            require_files(out, files)
            return measured

        protocol = "HTTP/2+TLS" if https else "HTTP/1.1"
        title = f"full differential sync, {protocol}" + ("" if quiet else ", logging on")
        return Scenario(name + ("" if quiet else "-log"), title, f"curl --parallel ({protocol})",
                        0.7 if quiet else None, ours, tools)

    def partial(self, published, secure=False, quiet=True, share=False):
        """The next version against the previous snapshot: 10% of files fetched; with
        `share`, unchanged files are hard links to the previous snapshot's."""
        app, v2 = published.app, published.v2
        name = "secure" if secure else ("shared" if share else "partial")
        files = len(v2.files) + 1
        fetched = set(v2.changed) | set(v2.added)
        unchanged = sorted(href for href in v2.files if href not in fetched)

        def prepare(run):
            self._sync(run, name, self.nginx.http, "v1", app, "differential", secure=secure,
                       measured=False, share=share)

        def ours(run):
            measured = self._sync(run, name, self.nginx.http, "v2", app, "differential",
                                  secure=secure, quiet=quiet, share=share)
            require_files(self.snapshot(run, name, app, "v2"), files)
            return measured

        def tools(run, writeback=False):
            out = self._out(run, name, writeback)
            previous = self.snapshot(run, name, app, "v1")
            script = (self._copy_parents(run, previous, unchanged, out) + " && " +
                      self._curl_parallel(run, self.nginx.http, app, "v2",
                                          [MANIFEST] + sorted(fetched), out))
            if secure:
                script += " && " + self._digest_all(out, files)
            measured = self.runner.shell(self._written_back(script, out, writeback))
            require_files(out, files)
            return measured

        def digest_alone(run):
            return {"openssl dgst, 2 processes": self.runner.shell(
                self._digest_all(self.snapshot(run, name, app, "v2"), files))}

        tools_title = "cp --parents + curl --parallel" + (" + openssl dgst" if secure else "")
        title = (("secure " if secure else "") + "10% differential sync" +
                 (", unchanged files shared" if share else "") + ("" if quiet else ", logging on"))
        goal = 0.7 if secure else (0.3 if share else 0.6)
        return Scenario(name + ("" if quiet else "-log"), title, tools_title,
                        goal if quiet else None, ours, tools, prepare,
                        digest_alone if secure else None)

    def no_update(self, published):
        app = published.app
        body = json.dumps({"app_id": app, "channel_name": APP_CHANNEL, "device": {
            "binary_version": "1.0.0", "device_id": "00000000-0000-4000-8000-000000000000",
            "platform": "linux", "platform_version": "6.1", "snapshot": "v1", "build": "1"}})

        def prepare(run):
            self._sync(run, "same", self.nginx.http, "zip", app, "zip", measured=False)

        def ours(run):
            return self._sync(run, "same", self.nginx.http, "zip", app, "zip")

        def tools(run, writeback=False):
            url = f"{self.nginx.http}/zip/apps/{app}/channels/check-device"
            return self.runner.shell(f"curl -sS --fail -H 'Content-Type: application/json' "
                                     f"--data-binary {shlex.quote(body)} {url}")

        def warm(run):
            done = subprocess.run([self.tools.host, os.path.join(run, "same"),
                                   f"{self.nginx.http}/zip/apps", app, APP_CHANNEL, "zip", "2"],
                                  check=True, capture_output=True, text=True)
            first, second = (float(line) for line in done.stdout.split())
            return {"1st sync in a host process (in-process time)": Measurement(first),
                    "2nd sync on the warm manager (in-process time)": Measurement(second)}

        return Scenario("same", "no-update sync", "one curl POST", 1.0, ours, tools, prepare, warm,
                        writes=False)
