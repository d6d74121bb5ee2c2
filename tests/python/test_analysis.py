# The module against blob-analyze and against itself: the table, views, threads, lifetime.
import gc
import math
import re
import threading

import numpy as np
import pytest

import blob
from conftest import blob_analyze, random_image, tables_equal, write_pgm

# (analyze keyword arguments, the same analysis as blob-analyze options)
SETTINGS = [
    ({"threshold": 60, "invert": True}, ["--threshold", 60, "--invert"]),
    ({"soft": (40, 120, 10)}, ["--soft", "40,120,10"]),
    ({"threshold_percent": (5, 5, 50)}, ["--threshold-percent", "5,5,50"]),
    ({"none": True, "connectivity": "labelled"}, ["--none", "--connectivity", "labelled"]),
    ({"connectivity": "wholeImage"}, ["--connectivity", "wholeImage"]),
    ({"prune": 6, "morph": ("close0", "erode2")}, ["--prune", 6, "--morph", "close0,erode2"]),
    ({"fill": 4, "angle": 0.5, "exclude_percent": 10}, ["--fill", 4, "--angle", 0.5, "--exclude-percent", 10]),
    ({"client_from_image": (0, 2, -1, 0, 5, 7), "exclude_pels": 3}, ["--xform", "0,2,-1,0,5,7", "--exclude-pels", 3]),
]


@pytest.mark.parametrize("params, options", SETTINGS)
def test_json_is_blob_analyzes(tmp_path, params, options):
    # Byte for byte: ids, tree, and every measure to the last bit.
    for seed in range(6):
        path = write_pgm(tmp_path / f"image{seed}.pgm", random_image(seed))
        assert blob.analyze(random_image(seed), **params).to_json(file=path) == blob_analyze("--format", "json", *options, path)


def test_masked_view_is_blob_analyzes(tmp_path):
    assert blob_analyze("--version") == f"blob-analyze {blob.__version__}\n"
    mask = np.zeros((192, 256), np.uint8)
    mask[20:150, 30:200] = 1  # given to the module as its part placed by mask_offset
    scene = blob.analyze(blob.demo_image(), mask=mask[15:160, 25:210], mask_offset=(25, 15), mask_interior=True)
    scene.filter("area", 3, 400)
    scene.filter("elongation", 1.5, 1e9, exclude=True)
    scene.sort("perimeter", ascending=True)
    demo, masks = write_pgm(tmp_path / "demo.pgm", blob.demo_image()), write_pgm(tmp_path / "mask.pgm", mask)
    assert scene.to_json(shown=True, file=demo) == blob_analyze(
        "--format", "json", "--shown", "--mask", masks, "--mask-interior", "--filter", "area:3:400",
        "--filter", "elongation:1.5:1e9:exclude", "--sort", "perimeter:asc", demo)
    assert 0 < len(scene.shown) < len(scene) and [b.id for b in scene.shown] == list(scene.table(shown=True)["id"])


@pytest.mark.parametrize("connectivity", ["greyScale", "labelled", "wholeImage"])
def test_table_matches_blobs(connectivity):
    scene = blob.analyze(random_image(11), connectivity=connectivity, none=connectivity == "labelled")
    table = scene.table()
    assert list(table) == ["id", "parent", "label", "numChildren"] + [m for m in blob.TABLE_MEASURES]
    for row, b in enumerate(scene):
        tree = [table[k][row] for k in ("id", "parent", "label", "numChildren")]
        assert tree == [b.id, b.parent.id if b.parent else 0, b.label, b.num_children] and b.num_children == len(b.children)
        assert all(child.parent == b for child in b.children)
        for name in table.keys() - {"id", "parent", "label", "numChildren"}:
            if math.isnan(table[name][row]):  # no such measure in this analysis: the blob refuses it
                with pytest.raises(blob.BadMeasure):
                    b.measure(name)
            else:
                snake = re.sub("([A-Z])", r"_\1", name).lower()
                assert b.measure(name) == table[name][row] == getattr(b, name) == getattr(b, snake)
    assert sorted(b.id for b in scene.top) == [b.id for b in scene if b.parent is None]


def test_views_labels_and_lifetime():
    image = random_image(5, 60, 80)
    for view in (image[::2, ::3], image[::-1, ::-1], image.T, image[5:40, 10:70]):
        assert tables_equal(blob.analyze(view).table(), blob.analyze(np.ascontiguousarray(view)).table())
    scene = blob.analyze(image, none=True, connectivity="labelled")
    assert np.array_equal(scene.label_image(), image)  # every pel belongs to a blob of its label
    scene = blob.analyze(blob.demo_image())
    table, kept = scene.table(), next(b for b in scene if b.parent and b.parent.parent)
    del scene
    gc.collect()
    while kept is not None:  # the tree outlives its scene
        row = list(table["id"]).index(kept.id)
        assert (kept.area, kept.parent.id if kept.parent else 0) == (table["area"][row], table["parent"][row])
        kept = kept.parent


def test_threads_give_the_serial_scene():
    image = random_image(11, 800, 700)  # large enough to be split into bands
    one = blob.analyze(image).table()
    assert all(tables_equal(blob.analyze(image, threads=threads).table(), one) for threads in (0, 2, 3))
    # Queries of one scene from many threads are serialised by the scene, never interleaved.
    scene, results, barrier = blob.analyze(image), [], threading.Barrier(4)
    work = [lambda: scene.filter("area", 0, 1e9), lambda: scene.sort("perimeter"), lambda: None, lambda: None]
    threads = [threading.Thread(target=lambda w=w: (barrier.wait(), w(), results.append(scene.table()))) for w in work]
    [t.start() for t in threads] + [t.join() for t in threads]
    assert len(results) == 4 and all(tables_equal(r, one) for r in results)


def test_overlay_is_blob_analyzes_and_shows_in_a_notebook(tmp_path):
    image = random_image(7, 40, 70)
    scene = blob.analyze(image, threshold=60)
    png = tmp_path / "overlay.png"
    blob_analyze("--threshold", 60, "--overlay", png, write_pgm(tmp_path / "i.pgm", image))
    drawn = scene.overlay(zoom=8)  # the program enlarges a 70-pel image 8 times
    for channel, grey in enumerate(("red", "green", "blue")):
        assert np.array_equal(drawn[..., channel], blob.read_image(png, grey=grey))
    plain = scene.overlay(image=np.zeros_like(image), draw=["boundary"], shown=True)
    assert plain.shape == (40, 70, 3) and plain.any() and not plain[..., 0].any()  # cyan lines on black
    for kwargs in ({"image": image[1:]}, {"draw": ["nothing"]}, {"zoom": 9}):
        with pytest.raises(ValueError):
            scene.overlay(**kwargs)
    page = scene._repr_html_()
    assert blob._base64.b64encode(blob._blob.png(drawn)).decode() in page
    ids = [int(i) for i in re.findall(r"<tr><td>(\d+)</td>", page)]
    assert ids == list(scene.table(["area"])["id"][:20]) and len(scene) > 20


def test_stream_gives_the_whole_images_blobs_in_any_bands():
    settings = {"soft": (40, 120, 10), "prune": 3, "angle": 0.4, "client_from_image": (0, 2, -1, 0, 5, 7)}
    for seed in range(4):
        image = random_image(seed, 60, 50)
        whole = blob.analyze(image, **settings).table()
        rows = lambda table: sorted(map(tuple, np.column_stack([table[k] for k in list(table)[2:]]).tolist()))
        for band in (1, 7, 60):
            trees = list(blob.stream_bands((image[y:y + band] for y in range(0, 60, band)), **settings))
            assert [t.number for t in trees] == list(range(1, len(trees) + 1))
            merged = {k: np.concatenate([t.table()[k] for t in trees]) for k in whole}
            assert rows(merged) == rows(whole)
        x, y, w, h = trees[0].window  # a tree is drawn over its window's pels
        drawn = trees[0].overlay(image=np.zeros((h, w), np.uint8), draw=["boundary"])
        assert drawn.shape == (h, w, 3) and drawn[..., 1].any()
    [tree] = blob.stream_bands((image[y:y + 7] for y in range(0, 60, 7)), connectivity="wholeImage")
    np.testing.assert_equal(tree.table(), blob.analyze(image, connectivity="wholeImage").table())
    labelled = blob.analyze(image, none=True, connectivity="labelled").table()
    trees = list(blob.stream_bands((image[y:y + 7] for y in range(0, 60, 7)), none=True, connectivity="labelled"))
    assert rows({k: np.concatenate([t.table()[k] for t in trees]) for k in labelled}) == rows(labelled)
    with pytest.raises(ValueError, match="rows are 49 pels wide"):
        blob.stream(50).feed(np.zeros((2, 49), np.uint8))
