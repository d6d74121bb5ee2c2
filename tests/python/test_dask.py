"""The Dask path against a serial loop."""

import numpy as np
import pytest

import blob
import blob.dask
from conftest import random_image, tables_equal, write_pgm

distributed = pytest.importorskip("distributed")
MEASURES = ["area", "centerOfMassX", "centerOfMassY", "perimeter"]


@pytest.fixture
def folder(tmp_path):
    for seed in range(20):
        write_pgm(tmp_path / f"part{seed:02}.pgm", random_image(seed, 96, 128))
    (tmp_path / "notes.txt").write_text("not an image")
    return tmp_path


def serial_table(files, **params):
    tables = [blob.analyze(blob.read_image(f), **params).table(MEASURES) for f in files]
    columns = {"file": np.concatenate([np.full(len(t["id"]), str(f)) for f, t in zip(files, tables)])}
    columns.update({name: np.concatenate([t[name] for t in tables]) for name in tables[0]})
    return columns


def test_cluster_gives_the_serial_table(folder):
    files = sorted(str(p) for p in folder.glob("*.pgm"))
    expected = serial_table(files, threshold=70, prune=3)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        table = blob.dask.analyze_folder(folder, client=client, measures=MEASURES, threshold=70, prune=3)
        assert tables_equal(table, expected)
        by_glob = blob.dask.analyze_folder(str(folder / "part1*.pgm"), client=client, measures=MEASURES,
                                           threshold=70, prune=3)
        assert tables_equal(by_glob, serial_table(files[10:], threshold=70, prune=3))
        with pytest.raises(blob.BadParams):
            blob.dask.analyze_folder(folder, client=client, soft=(9, 1, 0))


def test_image_files(folder):
    assert [p.rsplit("/", 1)[1] for p in blob.dask.image_files(folder)] == [f"part{i:02}.pgm" for i in range(20)]
    with pytest.raises(FileNotFoundError):
        blob.dask.image_files(folder / "none*.png")
    with pytest.raises(FileNotFoundError):
        blob.dask.image_files(folder / "missing")
