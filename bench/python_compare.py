#!/usr/bin/python3
"""Single-threaded comparison of the blob Python module with OpenCV and scikit-image.

On the images of the C++ OpenCV comparison (bench/opencv_compare.cpp), written to a temporary
folder by bench_make_images, this times one call of each of:

  blob     blob.analyze(img).table(["area", "centerOfMassX", "centerOfMassY"]): threshold 128,
           foreground blobs 8-connected and the holes inside them 4-connected, every region of
           the tree (blobs and holes) measured
  OpenCV   cv2.threshold + cv2.connectedComponentsWithStats(connectivity=8), setNumThreads(1):
           foreground only, no holes
  skimage  img >= 128, then skimage.measure.label(connectivity=2, i.e. 8-connected) +
           regionprops_table(properties=("area", "centroid")): foreground only, no holes

OpenCV and scikit-image label only the foreground, so both are given 8-connectivity, as
opencv_compare.cpp does: their components are then exactly blob's foreground blobs (rows with
label != 0). Thresholding is part of every timed call, as it is part of blob's segmentation.

Each image is checked before it is timed: the three must find the same foreground blobs (count,
areas and centroids). --check does only that, on 256 x 256 images of each class of the set.

Usage: PYTHONPATH=build/default/python /usr/bin/python3 bench/python_compare.py
           [--make-images PATH] [--images NAME,...] [--min-time SECONDS] [--check]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import cv2
import numpy as np
import skimage
from skimage.measure import label, regionprops_table

import blob

THRESHOLD = 128  # bench::kThreshold: foreground pels are at or above it
MEASURES = ["area", "centerOfMassX", "centerOfMassY"]
REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# bench::standardSet() without its largest image, on which scikit-image takes minutes.
DEFAULT_IMAGES = "parts-2048,parts-4096,noise10-2048,noise50-2048,checker-2048,glyphs-2048,empty-2048,full-2048"


def run_blob(img):
    return blob.analyze(img, threshold=THRESHOLD).table(MEASURES)


def run_opencv(img):
    _, binary = cv2.threshold(img, THRESHOLD - 1, 255, cv2.THRESH_BINARY)
    return cv2.connectedComponentsWithStats(binary, connectivity=8, ltype=cv2.CV_32S)


def run_skimage(img):
    return regionprops_table(label(img >= THRESHOLD, connectivity=2), properties=("area", "centroid"))


ROUTES = (("blob", run_blob), ("OpenCV", run_opencv), ("skimage", run_skimage))


# Foreground blobs of each result as rows (area, x, y) in pel-centre coordinates, sorted.
def regions_blob(table):
    fg = table["label"] != 0
    # blob's centre of mass has pel centres at +0.5
    return sort_rows(table["area"][fg], table["centerOfMassX"][fg] - 0.5, table["centerOfMassY"][fg] - 0.5)


def regions_opencv(result):
    _, _, stats, centroids = result
    return sort_rows(stats[1:, cv2.CC_STAT_AREA], centroids[1:, 0], centroids[1:, 1])


def regions_skimage(table):
    return sort_rows(table["area"], table["centroid-1"], table["centroid-0"])


def sort_rows(area, x, y):
    rows = np.column_stack([np.asarray(area, float), np.asarray(x, float), np.asarray(y, float)])
    return rows[np.lexsort((rows[:, 2], rows[:, 1], rows[:, 0]))]


def disagreement(results):
    """None when the three results hold the same foreground blobs, else what differs."""
    ours = regions_blob(results[0])
    for (name, _), regions, result in zip(ROUTES[1:], (regions_opencv, regions_skimage), results[1:]):
        theirs = regions(result)
        if len(theirs) != len(ours):
            return f"blobs: blob {len(ours)}, {name} {len(theirs)}"
        if not np.array_equal(theirs[:, 0], ours[:, 0]):
            return f"areas differ from {name}"
        if not np.allclose(theirs[:, 1:], ours[:, 1:], rtol=0, atol=1e-6):
            return f"centroids differ from {name}"
    return None


def median_time(fn, img, min_time):
    """Median seconds of fn(img) after one warm-up call, and the warm-up's result. Repeats until
    min_time has passed, at least 3 times and at most 100, or once when the warm-up took longer
    than 2 x min_time (scikit-image on dense noise takes seconds per call)."""
    start = time.perf_counter()
    result = fn(img)
    least = 1 if time.perf_counter() - start > 2 * min_time else 3
    samples = []
    begin = time.perf_counter()
    while len(samples) < 100 and (len(samples) < least or time.perf_counter() - begin < min_time):
        t0 = time.perf_counter()
        fn(img)
        samples.append(time.perf_counter() - t0)
    return float(np.median(samples)), len(samples), result


def parse_name(name):
    kind, _, side = name.rpartition("-")
    if not kind or not side.isdigit():
        sys.exit(f"image names are CLASS-SIDE, such as parts-2048; not {name!r}")
    return kind, int(side)


def make_image(generator, folder, kind, side):
    """The class's side x side image, written by bench_make_images and read back."""
    out = os.path.join(folder, f"{kind}-{side}")
    os.makedirs(out, exist_ok=True)
    done = subprocess.run([generator, out, "1", str(side), kind], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{generator} could not write {kind}-{side}: {done.stderr.strip()}")
    return blob.read_image(os.path.join(out, f"{kind}-000.png"))


def run_check(generator, folder, names):
    kinds = list(dict.fromkeys(parse_name(n)[0] for n in names))
    failures = 0
    for kind in kinds:
        img = make_image(generator, folder, kind, 256)
        results = [fn(img) for _, fn in ROUTES]
        why = disagreement(results)
        count = int(np.count_nonzero(results[0]["label"]))
        print(f"{kind + '-256':14} {count:6d} blobs  {'agrees' if why is None else 'DIFFERS: ' + why}")
        failures += why is not None
    print(f"{len(kinds) - failures} passed, {failures} failed")
    return 1 if failures else 0


def run_table(generator, folder, names, min_time):
    print(f"OpenCV {cv2.__version__} ({cv2.getNumThreads()} thread), scikit-image "
          f"{skimage.__version__}, numpy {np.__version__}, Python {sys.version.split()[0]}; "
          f"median of repeated calls after a warm-up (runs in brackets).\n")
    print("| image | blobs | holes | blob ms | OpenCV ms | skimage ms | blob/OpenCV | blob/skimage |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    failures = 0
    for name in names:
        img = make_image(generator, folder, *parse_name(name))
        timings = [median_time(fn, img, min_time) for _, fn in ROUTES]
        why = disagreement([result for _, _, result in timings])
        if why is not None:
            print(f"| {name} | results differ: {why} |")
            failures += 1
            continue
        fg = int(np.count_nonzero(timings[0][2]["label"]))
        holes = len(timings[0][2]["label"]) - fg
        (a, na, _), (b, nb, _), (c, nc, _) = timings
        print(f"| {name} | {fg} | {holes} | {a * 1e3:.2f} ({na}) | {b * 1e3:.2f} ({nb}) | {c * 1e3:.2f} ({nc}) "
              f"| {a / b:.2f} | {a / c:.3f} |", flush=True)
    print("\nA ratio below 1 means blob is faster. Holes: blob's holes, which OpenCV and skimage do not find.")
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--make-images", default=os.path.join(REPO, "build/default/bench/bench_make_images"),
                        help="path of the built bench_make_images (default: %(default)s)")
    parser.add_argument("--images", default=DEFAULT_IMAGES,
                        help="comma-separated CLASS-SIDE names (default: %(default)s)")
    parser.add_argument("--min-time", type=float, default=0.5,
                        help="time each cell for at least this many seconds (default: %(default)s)")
    parser.add_argument("--check", action="store_true",
                        help="only check agreement on 256 x 256 images of each class; exit 1 on a difference")
    args = parser.parse_args()
    if not os.access(args.make_images, os.X_OK):
        sys.exit(f"{args.make_images} is not an executable; build the bench_make_images target or give --make-images")
    names = [n.strip() for n in args.images.split(",") if n.strip()]
    for n in names:
        parse_name(n)
    cv2.setNumThreads(1)
    with tempfile.TemporaryDirectory(prefix="python_compare-") as folder:
        if args.check:
            return run_check(args.make_images, folder, names)
        return run_table(args.make_images, folder, names, args.min_time)


if __name__ == "__main__":
    sys.exit(main())
