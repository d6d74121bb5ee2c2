"""Hostile input: an array whose memory is freed while analyze runs."""

import subprocess
import sys


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
