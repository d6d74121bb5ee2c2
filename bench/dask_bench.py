#!/usr/bin/env python3
"""Images per second of blob.dask on a local cluster against a serial loop and blob-analyze -j, and
the client's peak memory in the lazy form for two numbers of images.

    bench/dask_bench.sh [--small N] [--large N] [--large-side S] [--workers W]

Each set is a folder of generated parts images (bench_make_images): N small ones of 256 x 256 and
N large ones of S x S. Every form reads and decodes the PNG files itself; the cluster is started
before its clock starts. The lazy form's client runs in a process of its own, so that its peak
resident memory (ru_maxrss) is its own.
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time

MEASURES = ["area", "centerOfMassX", "centerOfMassY"]


def lazy_client(folder, out, workers):
    """The lazy form in this process: written to CSV by the workers. Prints seconds and peak KiB."""
    import dask.distributed
    import blob.dask

    with dask.distributed.LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None) as cluster, \
            dask.distributed.Client(cluster):
        start = time.perf_counter()
        blobs, failures = blob.dask.read_blobs(folder, measures=MEASURES)
        blobs.to_csv(os.path.join(out, "blobs-*.csv"), index=False)
        assert len(failures) == 0
        print(time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)


def lazy(folder, workers):
    with tempfile.TemporaryDirectory() as out:
        result = subprocess.run([sys.executable, __file__, "--lazy-client", folder, out, str(workers)],
                                check=True, capture_output=True, text=True)
    seconds, kib = result.stdout.split()
    return float(seconds), int(kib)


def rates(folder, count, workers, analyze):
    import dask.distributed
    import blob
    import blob.dask

    files = blob.dask.image_files(folder)
    start = time.perf_counter()
    for path in files:
        blob.analyze(blob.read_image(path)).table(MEASURES)
    serial = time.perf_counter() - start
    start = time.perf_counter()
    subprocess.run([analyze, "-j", str(workers), "--format", "csv", "--measures", ",".join(MEASURES), folder],
                   check=True, stdout=subprocess.DEVNULL)
    program = time.perf_counter() - start
    with dask.distributed.LocalCluster(n_workers=workers, threads_per_worker=1, dashboard_address=None) as cluster, \
            dask.distributed.Client(cluster) as client:
        start = time.perf_counter()
        table = blob.dask.analyze_folder(folder, client=client, measures=MEASURES)
        eager = time.perf_counter() - start
    assert not table.failures and len(set(table["file"])) == count
    lazy_seconds, kib = lazy(folder, workers)
    row = [count / t for t in (serial, program, eager, lazy_seconds)]
    return row, kib


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--small", type=int, default=10000)
    parser.add_argument("--large", type=int, default=200)
    parser.add_argument("--large-side", type=int, default=4096)
    parser.add_argument("--workers", type=int, default=os.cpu_count())
    parser.add_argument("--make-images")
    parser.add_argument("--blob-analyze")
    parser.add_argument("--lazy-client", nargs=3, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.lazy_client:
        folder, out, workers = args.lazy_client
        return lazy_client(folder, out, int(workers))
    if not args.make_images or not args.blob_analyze:
        parser.error("--make-images and --blob-analyze are needed (bench/dask_bench.sh gives them)")
    print(f"images per second, {args.workers} worker processes of one thread, blob-analyze -j {args.workers}")
    print(f"{'images':>22} {'serial':>8} {'program':>8} {'eager':>8} {'lazy':>8} {'lazy/serial':>11}"
          f" {'client peak':>12}")
    sets = [(1000, 256), (args.small, 256), (args.large, args.large_side)]
    for count, side in sets:
        with tempfile.TemporaryDirectory() as folder:
            subprocess.run([args.make_images, folder, str(count), str(side), "parts"], check=True,
                           stdout=subprocess.DEVNULL)
            row, kib = rates(folder, count, args.workers, args.blob_analyze)
        name = f"{count} x {side}x{side}"
        print(f"{name:>22} " + " ".join(f"{r:8.1f}" for r in row) + f" {row[3] / row[0]:11.2f} {kib / 1024:9.0f} MiB",
              flush=True)


if __name__ == "__main__":
    sys.exit(main())
