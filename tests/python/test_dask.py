# Dask against a serial loop, on a scheduler and two workers of their own started elsewhere:
# damaged files, a relative folder, a lost worker, and the lazy frames written by the workers.
import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import blob
import blob.dask
from conftest import random_image, tables_equal, write_pgm

distributed = pytest.importorskip("distributed")
pandas = pytest.importorskip("pandas")
MEASURES = ["area", "centerOfMassX", "perimeter"]


@pytest.fixture
def client(tmp_path):
    cli, file = [sys.executable, "-m", "distributed.cli.dask_"], str(tmp_path / "scheduler.json")
    processes = [subprocess.Popen([cli[0], cli[1], cli[2] + "scheduler", "--host", "127.0.0.1", "--port", "0",
                                   "--no-dashboard", "--scheduler-file", file], cwd="/", stderr=subprocess.DEVNULL)]
    processes += [subprocess.Popen([cli[0], cli[1], cli[2] + "worker", "--nthreads", "1", "--no-dashboard",
                                    "--scheduler-file", file], cwd="/", stderr=subprocess.DEVNULL) for _ in range(2)]
    with distributed.Client(scheduler_file=file, timeout=60) as client:  # waits for the file
        client.wait_for_workers(2, timeout=60)
        yield client
    for process in processes:
        process.terminate()
        process.wait()


def test_cluster_gives_the_serial_table(client, tmp_path, monkeypatch):
    (tmp_path / "images").mkdir()
    files = [str(write_pgm(tmp_path / f"images/part{seed:03}.pgm", random_image(seed, 96, 128))) for seed in range(90)]
    (tmp_path / "images/damaged.pgm").write_bytes(b"P5\n10 10\n255\nxx")
    (tmp_path / "images/notes.txt").write_text("not an image")
    damaged = [(str(tmp_path / "images/damaged.pgm"), f"{tmp_path}/images/damaged.pgm: truncated PGM: 100 pel bytes expected, 2 present")]
    expected = lambda: blob.dask.concat_tables([(f, blob.analyze(blob.read_image(f), prune=3).table(MEASURES)) for f in files], MEASURES)
    monkeypatch.chdir(tmp_path)  # a relative folder: the workers run in another
    # The lazy frames: one worker lost after the first batch, the rest written by the workers.
    blobs, failures = client.persist(blob.dask.read_blobs("images", measures=MEASURES, prune=3))
    first = distributed.futures_of(blobs)[0]
    distributed.wait(first)
    os.kill(client.run(os.getpid)[next(iter(client.who_has([first]).values()))[0]], signal.SIGKILL)
    blobs.to_csv(str(tmp_path / "out/blobs-*.csv"), index=False)  # written by the workers, where they run
    written = pandas.concat([pandas.read_csv(f, float_precision="round_trip") for f in sorted((tmp_path / "out").iterdir())])  # zero-padded numbers
    assert tables_equal({k: written[k].to_numpy() for k in written}, {k: v.astype(written[k].dtype) for k, v in expected().items()})
    assert list(failures.compute().itertuples(index=False, name=None)) == damaged
    # The eager table, with a file name that is not UTF-8 (sorted last).
    files.append(str(write_pgm(tmp_path / os.fsdecode(b"images/\xffodd.pgm"), random_image(90))))
    table = blob.dask.analyze_folder("images", client=client, measures=MEASURES, prune=3)
    assert tables_equal(table, expected()) and table.failures == damaged
    assert blob.dask.analyze_folder("images/d*", client=client, errors="skip").failures == []
    with pytest.raises(blob.ImageError, match="damaged.pgm: truncated"):
        blob.dask.analyze_folder("images/d*", client=client, errors="raise")
    with pytest.raises(blob.BadParams):
        blob.dask.analyze_folder("images", client=client, soft=(9, 1, 0))
    assert "not found on worker" in blob.dask.analyze_batch(["/missing/a.pgm"], None, "record", {})[1][0][1]
