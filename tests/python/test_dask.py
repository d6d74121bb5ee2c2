# The Dask path against a serial loop.

import os

import numpy as np
import pytest

import blob
import blob.dask
from conftest import random_image, tables_equal, write_pgm

distributed = pytest.importorskip("distributed")
MEASURES = ["area", "centerOfMassX", "centerOfMassY", "perimeter"]


def serial_table(files):
    tables = [blob.analyze(blob.read_image(f), threshold=70, prune=3).table(MEASURES) for f in files]
    return {"file": np.concatenate([np.full(len(t["id"]), f) for f, t in zip(files, tables)])} | {
        name: np.concatenate([t[name] for t in tables]) for name in tables[0]}


def test_cluster_gives_the_serial_table(tmp_path):
    files = [str(write_pgm(tmp_path / f"part{seed:02}.pgm", random_image(seed, 96, 128))) for seed in range(20)]
    files.append(str(write_pgm(tmp_path / os.fsdecode(b"\xffodd.pgm"), random_image(20))))  # not UTF-8: sorted last
    (tmp_path / "notes.txt").write_text("not an image")
    assert blob.dask.image_files(tmp_path) == files
    with pytest.raises(FileNotFoundError):
        blob.dask.image_files(tmp_path / "none*.png")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        for folder, part in ((tmp_path, files), (str(tmp_path / "part1*.pgm"), files[10:20])):
            table = blob.dask.analyze_folder(folder, client=client, measures=MEASURES, threshold=70, prune=3)
            assert tables_equal(table, serial_table(part))
        with pytest.raises(blob.BadParams):
            blob.dask.analyze_folder(tmp_path, client=client, soft=(9, 1, 0))
