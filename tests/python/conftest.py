"""Shared helpers of the Python module's tests: images, files, and blob-analyze runs."""

import os
import subprocess

import numpy as np
import pytest


def random_image(seed, height=48, width=64):
    """Rectangles of random values on a noisy background: blobs, holes and blobs in holes."""
    rng = np.random.default_rng(seed)
    image = rng.integers(0, 100, size=(height, width), dtype=np.uint8)
    for _ in range(rng.integers(4, 12)):
        y, x = rng.integers(0, height), rng.integers(0, width)
        h, w = rng.integers(1, height // 2), rng.integers(1, width // 2)
        image[y:y + h, x:x + w] = rng.integers(0, 256)
    return image


def write_pgm(path, image):
    height, width = image.shape
    path.write_bytes(b"P5\n%d %d\n255\n" % (width, height) + np.ascontiguousarray(image).tobytes())
    return path


def blob_analyze(*args):
    """blob-analyze's standard output for args; fails the test on a non-zero status."""
    result = subprocess.run([os.environ["BLOB_ANALYZE"], *map(str, args)], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    return result.stdout


def tables_equal(a, b):
    """Whether two tables have the same columns with equal values (NaN equal to NaN)."""
    return list(a) == list(b) and all(np.array_equal(a[k], b[k], equal_nan=a[k].dtype.kind == "f") for k in a)


@pytest.fixture
def images(tmp_path):
    """Eight random images and their PGM files."""
    return [(image, write_pgm(tmp_path / f"image{seed:02}.pgm", image))
            for seed, image in ((seed, random_image(seed)) for seed in range(8))]
