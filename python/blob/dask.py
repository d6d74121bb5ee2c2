"""Blob analysis of many images spread over a Dask cluster.

    import blob.dask
    table = blob.dask.analyze_folder("images/", measures=["area"], threshold=100)
    table = blob.dask.analyze_folder("images/*.png", client="tcp://scheduler:8786")

In a script, call it under `if __name__ == "__main__":`: a local cluster's worker processes import
the main module again. Each worker reads and analyses whole images and sends back their tables;
the workers need the blob package installed (or on their PYTHONPATH), the images at the same
paths, and numpy.
"""

import glob as _glob
import os as _os

import numpy as _np

import blob as _blob
from . import _args
from . import _blob as _native


def image_files(path_or_glob, recursive=False):
    """The image files to analyse, sorted by path: a folder's .png and .pgm files (recursive: those
    of its subfolders too), the files a glob pattern matches, or a single file. path_or_glob is a
    str, bytes or os.PathLike; one holding a NUL byte is refused with ValueError. The paths are
    str, a name that is not UTF-8 decoded as os.fsdecode does (open() takes it back)."""
    path = _os.fsdecode(_args.path("path_or_glob", path_or_glob))
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


def concat_tables(files, tables):
    """One table of the tables of files, with a first column "file" naming each row's image."""
    if not tables:
        names = ("id", "parent", "label", "numChildren")
        return {"file": _np.array([], dtype=str), **{n: _np.array([], dtype=_np.int64) for n in names}}
    counts = [len(t["id"]) for t in tables]
    columns = {"file": _np.repeat(_np.array(files, dtype=str), counts)}
    for name in tables[0]:
        columns[name] = _np.concatenate([t[name] for t in tables])
    return columns


def analyze_folder(path_or_glob, client=None, measures=None, recursive=False, **params):
    """Analyses every image of a folder or glob pattern on a Dask cluster and returns one table of
    them all: the column "file", then the columns of blob.Scene.table, images in path order.

    client: a dask.distributed Client, a scheduler address ("tcp://host:8786"), or None for a local
    cluster of one single-threaded worker process per core, closed again at the end (its workers
    start by importing the main module, so a script calls this under
    `if __name__ == "__main__":`). params are
    blob.analyze's. An image that cannot be read or analysed raises its error here.
    """
    import dask.distributed as distributed

    files = image_files(path_or_glob, recursive)
    if measures is not None:
        measures = list(_blob._chosen(measures))
    own_client = None
    if client is None:
        cluster = distributed.LocalCluster(threads_per_worker=1, processes=True, dashboard_address=None)
        client = own_client = distributed.Client(cluster)
    elif isinstance(client, str):
        client = own_client = distributed.Client(client)
    elif not (hasattr(client, "map") and hasattr(client, "gather")):
        raise TypeError(f"client must be a Client, a scheduler address or None, not {type(client).__name__}")
    try:
        futures = client.map(analyze_file, files, measures=measures, pure=False, **params)
        tables = client.gather(futures)
    finally:
        if own_client is not None:
            cluster = own_client.cluster
            own_client.close()
            if cluster is not None:
                cluster.close()
    return concat_tables(files, tables)
