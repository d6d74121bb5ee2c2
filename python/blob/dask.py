"""Blob analysis of many images spread over a Dask cluster.

    import blob.dask
    table = blob.dask.analyze_folder("images/", measures=["area"], threshold=100)
    table = blob.dask.analyze_folder("images/*.png", client="tcp://scheduler:8786")
    blobs, failures = blob.dask.read_blobs("/data/images/", measures=["area"])  # lazy frames
    blobs.to_parquet("blobs/")  # written by the workers; the client never holds the rows

In a script, call it under `if __name__ == "__main__":`: a local cluster's worker processes import
the main module again. Workers need the blob package installed (or on their PYTHONPATH), numpy
(and pandas for read_blobs), and the images at the paths the client sees: paths are made absolute
on the client before they are sent.

Images go to the workers in batches, so that the cost of a task (about a millisecond of the
scheduler's time) stays a small share of its work even for small images: a batch closes at 32 MiB
of files or 1,000 files, and holds no more than a 64th of all the files, so that a few hundred
images still spread over every worker.
"""

import glob as _glob
import math as _math
import os as _os
import socket as _socket

import numpy as _np

import blob as _blob
from . import _args
from . import _blob as _native

ERRORS = ("record", "raise", "skip")
BATCH_BYTES = 32 << 20
BATCH_FILES = 1000
_TREE = ("id", "parent", "label", "numChildren")


def image_files(path_or_glob, recursive=False):
    """The image files to analyse, sorted by path: a folder's .png and .pgm files (recursive: those
    of its subfolders too), the files a glob pattern matches, or a single file. path_or_glob is a
    str, bytes or os.PathLike; one holding a NUL byte is refused with ValueError. The paths are
    absolute str, a name that is not UTF-8 decoded as os.fsdecode does (open() takes it back)."""
    path = _os.path.abspath(_os.fsdecode(_args.path("path_or_glob", path_or_glob)))
    recursive = _args.flag("recursive", recursive)
    if _glob.has_magic(path):
        files = sorted(f for f in _glob.glob(path, recursive=recursive) if _os.path.isfile(f))
        if not files:
            raise FileNotFoundError(f"no file matches {path}")
        return files
    if not _os.path.exists(path):
        raise FileNotFoundError(f"no such file or folder: {path}")
    return [_os.fsdecode(f) for f in _native.expand_inputs([_os.fsencode(path)], recursive)]


def analyze_file(path, measures=None, **params):
    """The table (see blob.Scene.table) of the image file at path analysed with params."""
    return _blob.analyze(_blob.read_image(path), **params).table(measures)


def analyze_batch(files, measures, errors, params):
    """The tables of the files that could be analysed, as (file, table) pairs, and the failures, as
    (file, message) pairs (none when errors is "skip"; errors "raise" raises the first)."""
    tables, failures = [], []
    for path in files:
        try:
            tables.append((path, analyze_file(path, measures, **params)))
        except (_blob.Error, OSError) as error:  # ImageError is an OSError
            message = str(error)
            if not _os.path.exists(path):
                message = (f"{path}: not found on worker {_socket.gethostname()}; the workers need the "
                           "images at the paths the client sees")
                if errors == "raise":
                    raise FileNotFoundError(message) from error
            if errors == "raise":
                raise
            if errors == "record":
                failures.append((path, message))
    return tables, failures


def concat_tables(pairs, measures):
    """One table of (file, table) pairs, with a first column "file" naming each row's image."""
    names = _TREE + (_blob.TABLE_MEASURES if measures is None else tuple(measures))
    columns = {"file": _np.repeat(_np.array([f for f, _ in pairs], dtype=str), [len(t["id"]) for _, t in pairs])}
    for name in names:
        columns[name] = _np.concatenate([t[name] for _, t in pairs] or
                                        [_np.array([], _np.int64 if name in _TREE else _np.float64)])
    return columns


class Table(dict):
    """analyze_folder's result: a dict of numpy columns, and in failures the images that could not
    be read or analysed, as (file, message) pairs in path order."""

    def __init__(self, columns, failures):
        super().__init__(columns)
        self.failures = failures


def _prepare(path_or_glob, recursive, measures, errors, params):
    """The files in batches and the checked settings; params (but a mask) are tried on a one-pel
    image, so that a refused setting raises here, not once per image."""
    files = image_files(path_or_glob, recursive)
    if measures is not None:
        measures = list(_blob._chosen(measures))
    if errors not in ERRORS:
        raise ValueError(f"errors must be one of {', '.join(ERRORS)}, not {_args.show(errors)}")
    _blob.analyze(_np.zeros((1, 1), _np.uint8), **{k: v for k, v in params.items() if not k.startswith("mask")})
    per_batch = max(1, min(BATCH_FILES, _math.ceil(len(files) / 64)))
    batches, batch, size = [], [], 0
    for path in files:
        batch.append(path)
        try:
            size += _os.path.getsize(path)
        except OSError:  # gone meanwhile: its failure is reported where it is read
            pass
        if size >= BATCH_BYTES or len(batch) >= per_batch:
            batches.append(batch)
            batch, size = [], 0
    return batches + [batch] * bool(batch), measures


def analyze_folder(path_or_glob, client=None, measures=None, recursive=False, errors="record", **params):
    """Analyses every image of a folder or glob pattern on a Dask cluster and returns one Table of
    them all: the column "file", then the columns of blob.Scene.table, images in path order.

    client: a dask.distributed Client, a scheduler address ("tcp://host:8786"), or None for a local
    cluster of one single-threaded worker process per core, closed again at the end (its workers
    start by importing the main module, so a script calls this under
    `if __name__ == "__main__":`). params are blob.analyze's. An image that cannot be read or
    analysed is listed in the result's failures (errors="record"), left out silently ("skip"), or
    raises its error here ("raise"). A lost worker's images are analysed again by another.
    """
    import dask.distributed as distributed

    batches, measures = _prepare(path_or_glob, recursive, measures, errors, params)
    own_client = None
    if client is None:
        cluster = distributed.LocalCluster(threads_per_worker=1, processes=True, dashboard_address=None)
        client = own_client = distributed.Client(cluster)
    elif isinstance(client, str):
        client = own_client = distributed.Client(client)
    elif not (hasattr(client, "map") and hasattr(client, "gather")):
        raise TypeError(f"client must be a Client, a scheduler address or None, not {type(client).__name__}")
    try:
        futures = client.map(analyze_batch, batches, measures=measures, errors=errors, params=params, pure=False)
        results = client.gather(futures)
    finally:
        if own_client is not None:
            cluster = own_client.cluster
            own_client.close()
            if cluster is not None:
                cluster.close()
    return Table(concat_tables([p for tables, _ in results for p in tables], measures),
                 [f for _, failures in results for f in failures])


def _frames(files, measures, errors, params):
    import pandas

    tables, failures = analyze_batch(files, measures, errors, params)
    return (pandas.DataFrame(concat_tables(tables, measures)),
            pandas.DataFrame({"file": _np.array([f for f, _ in failures], dtype=object),
                              "message": _np.array([m for _, m in failures], dtype=object)}))


def read_blobs(path_or_glob, measures=None, recursive=False, errors="record", **params):
    """Lazy analysis of many images: two dask.dataframe.DataFrames, the blobs (the columns of
    analyze_folder's table) and the failures (columns "file" and "message"), one partition per
    batch of images. Nothing runs until they are computed, on the current Dask scheduler (a
    Client's cluster once one is made); writing them (to_csv, to_parquet) or reducing them
    (groupby) runs on the workers, and the client holds only what it asks for. Computing both in
    one call (dask.compute) reads each batch once.
    """
    import dask
    import dask.dataframe

    batches, measures = _prepare(path_or_glob, recursive, measures, errors, params)
    parts = [dask.delayed(_frames, nout=2, pure=True)(batch, measures, errors, params) for batch in batches]
    blobs_meta, failures_meta = _frames([], measures, errors, params)
    return (dask.dataframe.from_delayed([p[0] for p in parts], meta=blobs_meta, verify_meta=False),
            dask.dataframe.from_delayed([p[1] for p in parts], meta=failures_meta, verify_meta=False))
