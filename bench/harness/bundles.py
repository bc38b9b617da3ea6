"""Deterministic web bundles for the benchmarks, published into a deploy root.

A bundle looks like the output of a web build: most files 1-50 KiB, spread over a few
hundred directories; a third of the bytes are incompressible (images, fonts), the rest
text that deflates about three to one, so that the archive is a little over half the
size of the files. The same name and seed always give the same bytes.
"""

import math
import os
import random
import subprocess
from dataclasses import dataclass, field

WORDS = (
    "function return const let var if else for while await async import export from "
    "default class extends this super new null undefined true false typeof instanceof "
    "render state props value index length push map filter reduce then catch finally "
    "document window element style color margin padding display flex grid width height "
    "div span button input label section header footer main nav img src href alt title"
).split()
PUNCTUATION = [" ", " ", " ", ".", ", ", "(", ") ", "{\n  ", "}\n", ";\n", " = ", " => ", "[", "]"]
TEXT_KINDS = [("js", "js"), ("css", "css"), ("i18n", "json"), ("views", "html")]
BINARY_KINDS = [("img", "png"), ("fonts", "woff2"), ("media", "webp")]
BINARY_SHARE = 0.33
FILES_PER_DIRECTORY = 64


@dataclass
class Bundle:
    name: str
    files: dict  # href -> bytes
    changed: list = field(default_factory=list)  # hrefs whose content differs from v1
    added: list = field(default_factory=list)
    removed: list = field(default_factory=list)

    @property
    def total_bytes(self):
        return sum(len(content) for content in self.files.values())


def _text_pool(rng, size):
    parts = []
    length = 0
    while length < size:
        word = rng.choice(WORDS) + rng.choice(PUNCTUATION)
        if rng.random() < 0.15:
            word = word + str(rng.randrange(10000))
        parts.append(word)
        length += len(word)
    return "".join(parts).encode()[:size]


def _sizes(rng, count, total_bytes):
    # Log-uniform between 1 and 50 KiB, scaled to the wanted total.
    raw = [1024 * math.exp(rng.random() * math.log(50)) for _ in range(count)]
    scale = total_bytes / sum(raw)
    return [max(1, int(size * scale)) for size in raw]


def _content(rng, pool, binary, size):
    if binary:
        return rng.randbytes(size)
    if size >= len(pool):  # a large file: the pool over and over, from a point of its own
        start = rng.randrange(len(pool))
        return (pool[start:] + pool * (size // len(pool) + 1))[:size]
    start = rng.randrange(len(pool) - size)
    return pool[start:start + size]


def _href(index, binary, rng):
    kinds = BINARY_KINDS if binary else TEXT_KINDS
    folder, extension = kinds[index % len(kinds)]
    group = index // FILES_PER_DIRECTORY
    return f"assets/{folder}/{group:03d}/{folder}-{index:05d}-{rng.randrange(1 << 16):04x}.{extension}"


def make_bundle(name, count, total_bytes, seed):
    rng = random.Random(seed)
    pool = _text_pool(rng, 2 << 20)
    files = {}
    for index, size in enumerate(_sizes(rng, count, total_bytes)):
        binary = rng.random() < BINARY_SHARE
        files[_href(index, binary, rng)] = _content(rng, pool, binary, size)
    files["index.html"] = b"<!doctype html><title>bench</title><script src=assets/js/000/app.js></script>\n"
    return Bundle(name, files)


def next_version(bundle, seed, changed_share=0.06, added_share=0.02, removed_share=0.02):
    """The bundle with a share of its files changed, added and removed (10% in all)."""
    rng = random.Random(seed)
    pool = _text_pool(rng, 1 << 20)
    hrefs = sorted(bundle.files)
    count = len(hrefs)
    picked = rng.sample(hrefs, int(count * (changed_share + removed_share)))
    changed = picked[:int(count * changed_share)]
    removed = picked[int(count * changed_share):]
    files = dict(bundle.files)
    for href in changed:
        binary = not href.endswith(tuple(extension for _, extension in TEXT_KINDS))
        files[href] = _content(rng, pool, binary, max(1, len(files[href]) + rng.randrange(-512, 512)))
    for href in removed:
        del files[href]
    added = []
    sizes = _sizes(rng, int(count * added_share), int(bundle.total_bytes * added_share))
    for index, size in enumerate(sizes):
        binary = rng.random() < BINARY_SHARE
        href = "next/" + _href(count + index, binary, rng)
        files[href] = _content(rng, pool, binary, size)
        added.append(href)
    return Bundle(bundle.name, files, sorted(changed), sorted(added), sorted(removed))


def write_tree(directory, files):
    for href, content in files.items():
        path = os.path.join(directory, href)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(content)


def publish(publisher, deploy_root, app, snapshot, build, source, key):
    subprocess.run([publisher, "publish", "--root", deploy_root, "--app", app, "--snapshot", snapshot,
                    "--build", str(build), "--key", key, source],
                   check=True, stdout=subprocess.DEVNULL)
