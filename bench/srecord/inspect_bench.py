#!/usr/bin/env python3
"""tideload-cli inspect --output against objcopy -I srec -O binary, as whole
processes on the same generated 72 MB S3 file (29,000,000 image bytes, 32 per
record), run alternately. Prints both medians and the ratio (goal >= 10).

  bench/srecord/inspect_bench.py [--cli PATH] [--runs N] [--keep DIR]

The CLI defaults to build/tideload-cli beside this script's project. Each
run writes a fresh output file; both images must be the same bytes.
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

IMAGE_SIZE = 29_000_000
BASE_ADDRESS = 0x08000000
GOAL = 10.0


def timed(argv, output):
    if os.path.exists(output):
        os.unlink(output)
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("inspect_bench: %s failed: %s" % (argv[0], done.stderr.decode(errors="replace")))
    return elapsed


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    p = argparse.ArgumentParser()
    p.add_argument("--cli", default=os.path.join(root, "build", "tideload-cli"))
    p.add_argument("--runs", type=int, default=11)
    p.add_argument("--keep", help="folder for the files, kept afterwards")
    a = p.parse_args()

    objcopy = shutil.which("objcopy")
    if objcopy is None:
        print("inspect_bench: skipped, objcopy not found (binutils)")
        return 0
    if not os.access(a.cli, os.X_OK):
        sys.exit("inspect_bench: no tideload-cli at %s" % a.cli)

    work = a.keep or tempfile.mkdtemp(prefix="inspect-bench-")
    os.makedirs(work, exist_ok=True)
    try:
        blob = os.path.join(work, "blob.bin")
        srec = os.path.join(work, "big_APP.s19")
        with open(blob, "wb") as f:
            f.write(random.Random(20240611).randbytes(IMAGE_SIZE))
        subprocess.run([objcopy, "-I", "binary", "-O", "srec", "--srec-forceS3", "--srec-len=32",
                        "--change-addresses", hex(BASE_ADDRESS), blob, srec], check=True)
        with open(srec, "rb") as f:  # in the page cache for both
            size = len(f.read())
        print("file: %s, %.1f MB of S-record text, %d image bytes" % (srec, size / 1e6, IMAGE_SIZE))

        ours_out = os.path.join(work, "ours.bin")
        peer_out = os.path.join(work, "objcopy.bin")
        ours_cmd = [a.cli, "inspect", "--output", ours_out, srec]
        peer_cmd = [objcopy, "-I", "srec", "-O", "binary", srec, peer_out]
        timed(ours_cmd, ours_out)  # a first run of each, not counted
        timed(peer_cmd, peer_out)
        with open(blob, "rb") as f:
            expected = f.read()
        for path in (ours_out, peer_out):
            with open(path, "rb") as f:
                if f.read() != expected:
                    sys.exit("inspect_bench: %s is not the image" % path)

        ours, peer = [], []
        for _ in range(a.runs):
            ours.append(timed(ours_cmd, ours_out))
            peer.append(timed(peer_cmd, peer_out))
        ours_ms = statistics.median(ours) * 1e3
        peer_ms = statistics.median(peer) * 1e3
        ratio = peer_ms / ours_ms
        print("tideload-cli inspect --output: %7.1f ms (median of %d)" % (ours_ms, a.runs))
        print("objcopy -I srec -O binary:     %7.1f ms (median of %d)" % (peer_ms, a.runs))
        print("ratio: %.1fx faster than objcopy (goal >= %g)  %s" %
              (ratio, GOAL, "met" if ratio >= GOAL else "MISSED"))
    finally:
        if not a.keep:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
