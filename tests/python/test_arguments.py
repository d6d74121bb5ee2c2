# Hostile input: types, ranges, non-finite settings, paths, sizes, masks, and an array freed meanwhile.
import math
import resource
import subprocess
import sys

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import blob
from conftest import random_image

IMAGE = random_image(7)
HUGE = as_strided(np.zeros(1, np.uint8), (60000, 60000), (0, 0))  # 3.6 GB were it copied


@pytest.mark.parametrize("call, error, message", [
    (lambda s: blob.analyze(np.zeros((4, 4))), TypeError, "image must be an array of uint8, not float64"),
    (lambda s: blob.analyze(np.zeros((4, 4, 3), np.uint8)), ValueError, "image must be a 2-D array, not 3-D"),
    (lambda s: blob.analyze([[0, 256]]), ValueError, "image must hold values in 0..255"),
    (lambda s: blob.analyze([[0], [1, 2]]), ValueError, "image is no array numpy can make"),
    (lambda s: blob.analyze(IMAGE, mask=np.zeros((4, 4), bool)), TypeError, "mask must be an array of uint8"),
    (lambda s: blob.analyze(IMAGE, soft=(10, 5, 1)), blob.BadParams, "The low threshold must be less than the high"),
    (lambda s: blob.analyze(IMAGE, threshold=256), ValueError, "threshold must be an integer in 0..255, not 256"),
    (lambda s: blob.analyze(IMAGE, connectivity="eight"), ValueError, "connectivity must be one of"),
    (lambda s: blob.analyze(IMAGE, connectivity=[1]), TypeError, "connectivity must be a str"),
    (lambda s: blob.analyze(IMAGE, morph=("erode9",)), ValueError, "unknown morphology 'erode9'"),
    (lambda s: blob.analyze(IMAGE, prune=2, fill=2), ValueError, "give prune or fill"),
    (lambda s: blob.analyze(IMAGE, soft=5), TypeError, "soft must be a sequence of 3 values"),
    (lambda s: blob.analyze(IMAGE, angle=math.nan), ValueError, "angle must be a finite number, not nan"),
    (lambda s: blob.analyze(IMAGE, client_from_image=(1, 0, math.inf, 1, 0, 0)), ValueError, "client_from_image[2] must be a finite"),
    (lambda s: blob.analyze(HUGE), ValueError, "the image of 60000 x 60000 pels is larger than the limit of 268435456 pels"),
    (lambda s: blob.analyze(IMAGE, mask=np.ones((10, 12), np.uint8)), ValueError, "the mask is 12 x 10 pels, the image 64 x 48"),
    (lambda s: blob.analyze(IMAGE, mask_offset=(0, 0)), ValueError, "mask_offset needs a mask"),
    (lambda s: s.filter("area", math.nan, 5), ValueError, "low must be a number, not nan"),
    (lambda s: (s.filter("area", 1, 5), s.filter("area", 1, 9)), blob.DuplicateFilter, ""),
    (lambda s: s.table(["size"]), ValueError, "unknown measure 'size'"),
    (lambda s: s[2**70], blob.BadId, "The specified blob ID is not valid."),
    (lambda s: s.to_json(file="\udcff"), ValueError, "file cannot be encoded as UTF-8"),
    (lambda s: s.blobs(np.zeros(1000)), TypeError, "shown must be True or False, not an array of shape"),
    (lambda s: blob.read_image(3), TypeError, "path must be a str, bytes or os.PathLike"),
    (lambda s: blob.read_image(b"x.pgm\x00.png"), ValueError, "path holds a NUL byte"),
    (lambda s: blob.read_image(b"/missing/\xffmissing.pgm"), blob.ImageError, "/missing/\\xffmissing.pgm: "),
    (lambda s: blob.read_image("x.pgm", grey="purple"), ValueError, "unknown grey rule 'purple'; valid names: luma"),
    (lambda s: blob.read_image(__file__, page=2), blob.ImageError, __file__ + ": a page is asked of a file that is not a TIFF"),
])
def test_refusals(call, error, message):
    scene = blob.analyze(IMAGE)
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    with pytest.raises(error) as raised:
        call(scene)
    text = str(raised.value)
    assert text.startswith(message) and "incompatible" not in text and 0 < len(text) < 1000
    assert resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak < 512 * 1024  # KiB: nothing copied
    if isinstance(raised.value, blob.Error):
        assert isinstance(raised.value, (ValueError, LookupError)) and raised.value.number >> 16 == 0x1000
    assert scene.angle == 0 and scene.filters[:1] in ([], [("area", 1.0, 5.0, False)])


RESIZE_DURING_ANALYZE = """
import sys, threading, numpy as np, blob
sys.setswitchinterval(100)  # the resizing thread runs only when analyze lets the GIL go
base, go = np.full((4096, 4096), 200, np.uint8), threading.Event()
threading.Thread(target=lambda: (go.wait(), base.resize((1,), refcheck=False))).start()
go.set()
print(len(blob.analyze(base[:, ::2])))
"""


def test_array_freed_during_analyze():
    # The copy holds the GIL, so the resize frees the memory after it: a clean result.
    result = subprocess.run([sys.executable, "-c", RESIZE_DURING_ANALYZE], capture_output=True, text=True)
    assert (result.returncode, result.stdout) == (0, "1\n"), result.stderr
