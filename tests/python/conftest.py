# Shared helpers of the Python module's tests: images, files, and blob-analyze runs.
import os
import subprocess

import numpy as np


def random_image(seed, height=48, width=64):  # rectangles of random values on a noisy background
    rng = np.random.default_rng(seed)
    image = rng.integers(0, 100, size=(height, width), dtype=np.uint8)
    for _ in range(rng.integers(4, 12)):
        y, x, h, w = rng.integers(0, height), rng.integers(0, width), rng.integers(1, height // 2), rng.integers(1, width // 2)
        image[y:y + h, x:x + w] = rng.integers(0, 256)
    return image


def write_pgm(path, image):
    path.write_bytes(b"P5\n%d %d\n255\n" % image.shape[::-1] + np.ascontiguousarray(image).tobytes())
    return path


def blob_analyze(*args):
    result = subprocess.run([os.environ["BLOB_ANALYZE"], *map(str, args)], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def tables_equal(a, b):  # NaN equal to NaN
    return list(a) == list(b) and all(np.array_equal(a[k], b[k], equal_nan=a[k].dtype.kind == "f") for k in a)
