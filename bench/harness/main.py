"""bench/run's harness: generates the bundles, serves them with nginx, measures every
scenario against the standard tools, and prints the table. See bench/run."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

import bundles
import real_release
from measure import Runner, median
from nginx import Nginx
from report import print_table, write_markdown
from scenarios import Published, Scenarios, Tools
from scratch import Scratch

# name: (files, bytes, seed); "large": a few large files, where bandwidth, not file
# creation, dominates.
SIZES = {"b2k": (2000, 30 << 20, 1), "b10k": (10000, 100 << 20, 2), "large": (20, 200 << 20, 3)}


def parse_arguments():
    parser = argparse.ArgumentParser(prog="bench/run")
    parser.add_argument("--build", required=True, help="the build directory with the tools")
    parser.add_argument("--repeat", type=int, default=5, help="runs of each scenario (default 5)")
    parser.add_argument("--bundles", default="b2k,b10k,large",
                        help="comma-separated: b2k, b10k, large (default: all three)")
    parser.add_argument("--only", default="", help="comma-separated scenario keys to run")
    parser.add_argument("--dir", default="/var/tmp", help="where the work directory goes")
    parser.add_argument("--markdown", help="also write the table to this file")
    parser.add_argument("--keep", action="store_true", help="keep the work directory (and its filesystem mounted)")
    parser.add_argument("--real-release", action="store_true",
                        help="also the real-release scenario: two npm releases, with and without patches")
    return parser.parse_args()


def make_keys(directory):
    private = os.path.join(directory, "signing.pem")
    public = os.path.join(directory, "signing.pub.pem")
    subprocess.run(["openssl", "genrsa", "-out", private, "2048"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["openssl", "rsa", "-in", private, "-pubout", "-out", public], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return private, public


def publish_bundles(names, work, publisher, key):
    deploy_root = os.path.join(work, "deploy")
    published = {}
    for name in names:
        count, total, seed = SIZES[name]
        v1 = bundles.make_bundle(name, count, total, seed)
        v2 = bundles.next_version(v1, seed + 100)
        for snapshot, build, bundle in (("v1", 1, v1), ("v2", 2, v2)):
            source = os.path.join(work, "sources", name, snapshot)
            bundles.write_tree(source, bundle.files)
            bundles.publish(publisher, deploy_root, name, snapshot, build, source, key)
        archive = os.path.getsize(os.path.join(deploy_root, "apps", name, "snapshots", "v1", "bundle.zip"))
        print(f"{name}: {len(v1.files)} files, {v1.total_bytes / 2**20:.1f} MiB, zip {archive / 2**20:.1f} MiB; "
              f"next version: {len(v2.changed)} changed, {len(v2.added)} added, {len(v2.removed)} removed",
              flush=True)
        # The harness keeps only the file lists: its own memory stays small.
        for bundle in (v1, v2):
            bundle.files = {href: len(content) for href, content in bundle.files.items()}
        published[name] = Published(name, v1, v2)
    return deploy_root, published


def offers(names):
    answers = {}
    for name in names:
        answers[("zip", name)] = ("v1", 1, f"/apps/{name}/snapshots/v1/bundle.zip")
        answers[("v1", name)] = ("v1", 1, f"/apps/{name}/snapshots/v1/files/live-update-manifest.json")
        answers[("v2", name)] = ("v2", 2, f"/apps/{name}/snapshots/v2/files/live-update-manifest.json")
    return answers


def scenarios_for(scenarios, published, bundle):
    listed = [scenarios.zip(published), scenarios.full(published), scenarios.full(published, https=True),
              scenarios.partial(published), scenarios.partial(published, secure=True),
              scenarios.partial(published, share=True), scenarios.no_update(published)]
    if bundle == "b10k":
        listed += [scenarios.full(published, quiet=False), scenarios.partial(published, quiet=False)]
    return listed


def measure_all(listed, work, repeat):
    results = {}
    for index in range(repeat):
        for scenario in listed:
            run = os.path.join(work, "runs", f"{index}-{scenario.key}")
            os.makedirs(run)
            scenario.prepare(run)
            entry = results.setdefault(scenario.key, {"scenario": scenario, "ours": [], "tools": [],
                                                      "synced": [], "extra": {}})
            sides = [("ours", scenario.ours), ("tools", scenario.tools)]
            if scenario.writes:
                sides.append(("synced", lambda run: scenario.tools(run, writeback=True)))
            # The sides take turns at going first.
            for side, measure in sides if index % 2 == 0 else reversed(sides):
                entry[side].append(measure(run))
            if scenario.extra:
                for name, measurement in scenario.extra(run).items():
                    entry["extra"].setdefault(name, []).append(measurement)
        print(f"run {index + 1}/{repeat} done", flush=True)
    return [(entry["scenario"], median(entry["ours"]), median(entry["tools"]),
             median(entry["synced"]) or median(entry["tools"]),
             {name: median(values) for name, values in entry["extra"].items()})
            for entry in results.values()]


def main():
    arguments = parse_arguments()
    names = [name for name in arguments.bundles.split(",") if name]
    parent = tempfile.mkdtemp(prefix="qelvo-bench-", dir=arguments.dir)
    os.chmod(parent, 0o755)  # nginx's workers run as another user
    try:
        with Scratch(parent, keep=arguments.keep) as scratch:
            run(arguments, names, scratch)
    finally:
        if not arguments.keep:
            shutil.rmtree(parent, ignore_errors=True)


def run(arguments, names, scratch):
    work = scratch.mountpoint
    print(f"work directory: {work}, on {scratch.describe()}", flush=True)
    tools_dir = os.path.join(arguments.build, "tools")
    bench_dir = os.path.join(arguments.build, "bench")
    nginx = None
    try:
        private, public = make_keys(work)
        deploy_root, published = publish_bundles(names, work, os.path.join(tools_dir, "qelvo-publish"), private)
        nginx_dir = os.path.join(work, "nginx")
        os.makedirs(nginx_dir)
        nginx = Nginx(nginx_dir, deploy_root, offers(names))
        nginx.start()
        tools = Tools(os.path.join(tools_dir, "qelvo-live-update"), os.path.join(bench_dir, "qelvo_bench_host"),
                      nginx.certificate, public)
        runner = Runner(os.path.join(bench_dir, "qelvo_bench_measure"), nginx)
        scenarios = Scenarios(runner, nginx, tools, deploy_root)
        only = {key for key in arguments.only.split(",") if key}
        started = time.monotonic()
        tables = []
        for name in names:
            listed = [s for s in scenarios_for(scenarios, published[name], name) if not only or s.key in only]
            tables.append((name, measure_all(listed, os.path.join(work, name), arguments.repeat)))
        print(f"\nmedians of {arguments.repeat} runs ({time.monotonic() - started:.0f} s); "
              f"peak RSS and threads: the largest seen\n")
        for name, results in tables:
            print_table(name, results)
        if arguments.markdown:
            write_markdown(arguments.markdown, tables, arguments.repeat)
        if arguments.real_release:
            release_work = os.path.join(work, "real-release")
            os.makedirs(release_work)
            real_release.run(release_work, {"publish": os.path.join(tools_dir, "qelvo-publish"),
                                            "cli": os.path.join(tools_dir, "qelvo-live-update")},
                             arguments.repeat)
    finally:
        if nginx:
            nginx.stop()


if __name__ == "__main__":
    sys.exit(main())
