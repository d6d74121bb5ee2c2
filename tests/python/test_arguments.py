"""Hostile input: paths, sizes, types, non-finite settings, masks, and an array freed meanwhile."""

import math
import os
import resource
import subprocess
import sys

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import blob
import blob.dask
from conftest import random_image, tables_equal, write_pgm


def test_paths_are_taken_as_open_takes_them(tmp_path):
    image = random_image(4, 6, 8)
    real = write_pgm(tmp_path / "real.pgm", image)
    for path in (str(real) + "\x00.png", os.fsencode(real) + b"\x00.png"):
        with pytest.raises(ValueError, match="^path holds a NUL byte$"):
            blob.read_image(path)
    with pytest.raises(ValueError, match="^path_or_glob holds a NUL byte$"):
        blob.dask.image_files(str(tmp_path) + "\x00")
    # A file name that is not UTF-8, as bytes and as the str os.fsdecode makes of it.
    odd = write_pgm(tmp_path / os.fsdecode(b"\xff.pgm"), image)
    assert np.array_equal(blob.read_image(os.fsencode(odd)), image)
    files = blob.dask.image_files(tmp_path)  # sorted by their bytes
    assert [os.path.basename(f) for f in files] == ["real.pgm", odd.name]
    assert np.array_equal(blob.read_image(files[1]), image)
    with pytest.raises(blob.ImageError, match=r"\\xffmissing.pgm: "):
        blob.read_image(os.fsencode(tmp_path) + b"/\xffmissing.pgm")


def test_pel_limit_refuses_before_copying():
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    huge = as_strided(np.zeros(1, np.uint8), (60000, 60000), (0, 0))  # 3.6 GB were it copied
    with pytest.raises(ValueError, match="image of 60000 x 60000 pels .* limit of 268435456 pels"):
        blob.analyze(huge)
    with pytest.raises(ValueError, match="mask of 60000 x 60000 pels .* limit of 268435456 pels"):
        blob.analyze(np.zeros((4, 4), np.uint8), mask=huge, mask_offset=(0, 0))
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak < 512 * 1024  # KiB
    image = np.full((3, 5), 200, np.uint8)
    assert len(blob.analyze(image, max_pels=15)) == 1
    with pytest.raises(ValueError, match="image of 5 x 3 pels .* limit of 14 pels"):
        blob.analyze(image, max_pels=14)
    with pytest.raises(ValueError, match="max_pels must be an integer in 1.."):
        blob.analyze(image, max_pels=blob.MAX_IMAGE_PELS + 1)


RESIZE_DURING_ANALYZE = """
import sys, threading
import numpy as np
import blob
sys.setswitchinterval(100)  # the resizing thread runs only when analyze lets the GIL go
base = np.full((4096, 4096), 200, np.uint8)
go = threading.Event()
thread = threading.Thread(target=lambda: (go.wait(), base.resize((1,), refcheck=False)))
thread.start()
go.set()
print(len(blob.analyze(base[:, ::2])))
thread.join()
"""


def test_array_freed_during_analyze():
    # The copy holds the GIL, so the resize frees the memory after it: a clean result.
    result = subprocess.run([sys.executable, "-c", RESIZE_DURING_ANALYZE], capture_output=True, text=True)
    assert (result.returncode, result.stdout) == (0, "1\n"), result.stderr


IMAGE = random_image(7)


@pytest.mark.parametrize("call, error, message", [
    (lambda s: blob.analyze(None), TypeError, "image must be a 2-D array of uint8, not NoneType"),
    (lambda s: blob.analyze(np.uint8(5)), TypeError, "image must be a 2-D array of uint8, not uint8"),
    (lambda s: blob.analyze([[0, 256]]), ValueError, "image must hold values in 0..255"),
    (lambda s: blob.analyze([[0], [1, 2]]), ValueError, "image is no array numpy can make"),
    (lambda s: blob.analyze(IMAGE, prune=2**63), ValueError, "prune must be an integer in -2147483648.."),
    (lambda s: blob.analyze(IMAGE, threshold_percent=(0, 0, 1e30)), TypeError, "threshold_percent[2] must be"),
    (lambda s: blob.analyze(IMAGE, soft=5), TypeError, "soft must be a sequence of 3 values"),
    (lambda s: blob.analyze(IMAGE, connectivity=[1]), TypeError, "connectivity must be a str"),
    (lambda s: blob.analyze(IMAGE, invert="no"), TypeError, "invert must be True or False"),
    (lambda s: blob.analyze(IMAGE, threads=-1), ValueError, "threads must be an integer in 0..256"),
    (lambda s: s[2**70], blob.BadId, "The specified blob ID is not valid."),
    (lambda s: blob.Blob(s, 2**63).area, blob.BadId, "The specified blob ID is not valid."),
    (lambda s: s.to_json(file="\udcff"), ValueError, "file cannot be encoded as UTF-8"),
    (lambda s: s.filter(np.zeros(1000), 0, 1), TypeError, "measure must be a measure name"),
    (lambda s: s.blobs(np.zeros(1000)), TypeError, "shown must be True or False, not an array of shape"),
    (lambda s: blob.read_image(3), TypeError, "path must be a str, bytes or os.PathLike"),
])
def test_argument_refusals(call, error, message):
    scene = blob.analyze(IMAGE)
    with pytest.raises(error) as raised:
        call(scene)
    text = str(raised.value)
    assert text.startswith(message) and "incompatible" not in text and len(text) < 200


def test_list_of_lists_is_an_image():
    rows = [[0, 255, 255], [255, 0, 200]]
    assert tables_equal(blob.analyze(rows).table(), blob.analyze(np.array(rows, np.uint8)).table())


def test_non_finite_settings_refused():
    image = random_image(8)
    nan, inf = math.nan, math.inf
    with pytest.raises(ValueError, match="^angle must be a finite number, not nan$"):
        blob.analyze(image, angle=nan)
    with pytest.raises(ValueError, match=r"^client_from_image\[2\] must be a finite number, not inf$"):
        blob.analyze(image, client_from_image=(1, 0, inf, 1, 0, 0))
    with pytest.raises(ValueError, match="^exclude_pels must be a finite number, not nan$"):
        blob.analyze(image, exclude_pels=nan)
    scene = blob.analyze(image, angle=0.25)
    for change in (lambda: setattr(scene, "angle", -inf), lambda: scene.exclude_area(percent=nan),
                   lambda: setattr(scene, "client_from_image", (nan, 0, 0, 1, 0, 0)),
                   lambda: scene.filter("area", nan, 5), lambda: scene.filter("area", 0, nan)):
        with pytest.raises(ValueError, match="nan|inf"):
            change()
    assert scene.angle == 0.25 and scene.filters == []
    shown = len(scene.shown)
    scene.filter("area", 0, inf)  # an open range is a range
    assert len(scene.shown) == shown > 0


def test_mask_of_another_size():
    image = random_image(9, 30, 40)
    small = np.zeros((10, 12), np.uint8)
    small[2:9, 1:11] = 1
    with pytest.raises(ValueError, match=r"^the mask is 12 x 10 pels, the image 40 x 30 \("):
        blob.analyze(image, mask=small)
    # Placed by mask_offset: the same as a mask of the image's size holding it there.
    full = np.zeros_like(image)
    full[5:15, 7:19] = small
    placed = blob.analyze(image, mask=small, mask_offset=(7, 5), mask_interior=True)
    assert placed.to_json() == blob.analyze(image, mask=full, mask_interior=True).to_json()
    with pytest.raises(ValueError, match="^mask_offset needs a mask$"):
        blob.analyze(image, mask_offset=(0, 0))
    with pytest.raises(ValueError, match="^the mask has no pels$"):
        blob.analyze(image, mask=np.zeros((0, 3), np.uint8), mask_offset=(0, 0))
