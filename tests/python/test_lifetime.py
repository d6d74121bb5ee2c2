"""Blobs outliving their scenes, and threads."""

import gc
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import blob
from conftest import random_image, tables_equal

MEASURES = ["area", "perimeter", "centerOfMassX", "elongation", "boundingBoxPrincipalWidth"]


def depth(b):
    return 0 if b.parent is None else 1 + depth(b.parent)


def test_blob_outlives_its_scene():
    scene = blob.analyze(blob.demo_image())
    expected = scene.table()
    kept = max(scene, key=depth)
    kept_id = kept.id
    del scene
    gc.collect()
    row = list(expected["id"]).index(kept_id)
    assert kept.area == expected["area"][row] and kept.label == expected["label"][row]
    ancestors = []
    while kept is not None:  # the whole tree is still there
        ancestors.append(kept.id)
        kept = kept.parent
    assert len(ancestors) == 4  # the demo's deepest part


def test_threads_give_the_serial_results():
    images = [random_image(seed, 120, 160) for seed in range(16)]
    serial = [blob.analyze(image, soft=(50, 150, 20)).table(MEASURES) for image in images]
    with ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda image: blob.analyze(image, soft=(50, 150, 20)).table(MEASURES), images))
    assert all(tables_equal(a, b) for a, b in zip(serial, parallel))


def test_threads_sharing_one_scene():
    # Queries of one scene from many threads are serialised by the scene, never interleaved.
    image = random_image(9, 200, 200)
    expected = blob.analyze(image).table()
    scene = blob.analyze(image)
    results, barrier = [], threading.Barrier(4)

    def work(k):
        barrier.wait()
        if k % 2:
            scene.filter("area", 0, 1e9) if k == 1 else scene.sort("perimeter")
        results.append(scene.table())

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(results) == 4 and all(tables_equal(r, expected) for r in results)
    assert np.array_equal(sorted(b.id for b in scene.shown), expected["id"])
