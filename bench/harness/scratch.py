"""A fresh filesystem for one benchmark run.

On ext4 without a journal, creating files soon after many were deleted is several
times slower (the allocator skips recently freed inodes, scanning for others), and
anyone deleting trees on the same filesystem, another developer's tests included,
slows every run down. So, where we may (root, loop devices), the runs write into a new
ext4 filesystem without a journal, like the machine's own disk, on a sparse image that
nothing else touches and that is thrown away at the end. Elsewhere they write into a
fresh directory, and the results say so.
"""

import os
import shutil
import subprocess


class Scratch:
    def __init__(self, parent, keep=False, size_gib=24, inodes=2_000_000):
        self.parent = parent
        self.keep = keep
        self.image = os.path.join(parent, "scratch.img")
        self.mountpoint = os.path.join(parent, "fs")
        self.size_gib = size_gib
        self.inodes = inodes
        self.mounted = False

    def __enter__(self):
        os.makedirs(self.mountpoint)
        if os.geteuid() == 0 and shutil.which("mkfs.ext4"):
            try:
                with open(self.image, "wb") as image:
                    image.truncate(self.size_gib << 30)
                # Inode tables written now, not by a kernel thread during the runs.
                subprocess.run(["mkfs.ext4", "-q", "-F", "-O", "^has_journal", "-N", str(self.inodes),
                                "-E", "lazy_itable_init=0,nodiscard", self.image],
                               check=True, stdout=subprocess.DEVNULL)
                subprocess.run(["mount", "-o", "loop", self.image, self.mountpoint], check=True,
                               stderr=subprocess.PIPE)
                self.mounted = True
            except (OSError, subprocess.CalledProcessError) as error:
                print(f"no scratch filesystem ({error}); writing into {self.mountpoint}", flush=True)
        os.chmod(self.mountpoint, 0o755)  # nginx's workers run as another user
        return self

    def describe(self):
        return ("a fresh ext4 filesystem without a journal (loop device)" if self.mounted
                else "fresh directories on " + self.parent)

    def __exit__(self, *exception):
        if self.keep:
            return
        if self.mounted:
            subprocess.run(["umount", self.mountpoint], check=False)
        if os.path.exists(self.image):
            os.remove(self.image)
