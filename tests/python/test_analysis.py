"""The module against blob-analyze, the table against the blob properties, and refusals."""

import math

import numpy as np
import pytest

import blob
from conftest import blob_analyze, random_image, tables_equal, write_pgm

# (analyze keyword arguments, the same analysis as blob-analyze options)
SETTINGS = [
    ({}, []),
    ({"threshold": 60, "invert": True}, ["--threshold", 60, "--invert"]),
    ({"soft": (40, 120, 10)}, ["--soft", "40,120,10"]),
    ({"threshold_percent": (5, 5, 50)}, ["--threshold-percent", "5,5,50"]),
    ({"none": True, "connectivity": "labelled"}, ["--none", "--connectivity", "labelled"]),
    ({"connectivity": "wholeImage"}, ["--connectivity", "wholeImage"]),
    ({"prune": 6, "morph": ("close0", "erode2")}, ["--prune", 6, "--morph", "close0,erode2"]),
    ({"fill": 4, "angle": 0.5, "exclude_percent": 10}, ["--fill", 4, "--angle", 0.5, "--exclude-percent", 10]),
    ({"client_from_image": (0, 2, -1, 0, 5, 7), "exclude_pels": 3},
     ["--xform", "0,2,-1,0,5,7", "--exclude-pels", 3]),
]


@pytest.mark.parametrize("params, options", SETTINGS)
def test_json_is_blob_analyzes(images, params, options):
    # Byte for byte: ids, tree, and every measure to the last bit.
    for image, path in images:
        expected = blob_analyze("--format", "json", *options, path)
        assert blob.analyze(image, **params).to_json(file=path) == expected


def test_version_is_blob_analyzes():
    assert blob_analyze("--version") == f"blob-analyze {blob.__version__}\n"
    assert all(part.isdigit() for part in blob.__version__.split(".")) and blob.__version__.count(".") == 2


def test_demo_image_and_mask(tmp_path):
    scene = blob.analyze(blob.demo_image())
    assert scene.to_json() == blob_analyze("--format", "json")
    mask = np.zeros((192, 256), np.uint8)
    mask[20:150, 30:200] = 1
    write_pgm(tmp_path / "mask.pgm", mask)
    write_pgm(tmp_path / "demo.pgm", blob.demo_image())
    expected = blob_analyze("--format", "json", "--mask", tmp_path / "mask.pgm", "--mask-interior",
                            tmp_path / "demo.pgm")
    masked = blob.analyze(blob.demo_image(), mask=mask, mask_interior=True)
    assert masked.to_json(file=tmp_path / "demo.pgm") == expected


def test_view_is_blob_analyzes(images):
    image, path = images[3]
    scene = blob.analyze(image)
    scene.filter("area", 3, 400)
    scene.filter("elongation", 1.5, 1e9, exclude=True)
    scene.sort("perimeter", ascending=True)
    expected = blob_analyze("--format", "json", "--shown", "--filter", "area:3:400",
                            "--filter", "elongation:1.5:1e9:exclude", "--sort", "perimeter:asc", path)
    assert scene.to_json(shown=True, file=path) == expected
    assert [b.id for b in scene.shown] == list(scene.table(["area"], shown=True)["id"])
    assert scene.filters == [("area", 3.0, 400.0, False), ("elongation", 1.5, 1e9, True)]
    assert scene.sort_order == ("perimeter", True)


def snake(name):
    return "".join("_" + c.lower() if c.isupper() else c for c in name)


@pytest.mark.parametrize("connectivity", ["greyScale", "labelled", "wholeImage"])
def test_table_matches_blobs(connectivity):
    scene = blob.analyze(random_image(11), connectivity=connectivity, none=connectivity == "labelled")
    table = scene.table()
    assert list(table)[:4] == ["id", "parent", "label", "numChildren"]
    assert list(table)[4:] == [m for m in blob.MEASURES if m not in ("label", "numChildren")]
    assert all(len(column) == len(scene) for column in table.values())
    assert list(scene.table(["label", "area"])) == ["id", "parent", "label", "numChildren", "area"]
    for row, b in enumerate(scene):
        assert table["id"][row] == b.id and table["label"][row] == b.label
        assert table["parent"][row] == (b.parent.id if b.parent else 0)
        assert table["numChildren"][row] == b.num_children == len(b.children)
        assert all(child.parent == b for child in b.children)
        for name in table.keys() - {"id", "parent", "label", "numChildren"}:
            value = table[name][row]
            if math.isnan(value):  # no such measure in this analysis: the blob refuses it
                with pytest.raises(blob.BadMeasure):
                    getattr(b, snake(name))
                continue
            assert getattr(b, snake(name)) == value == b.measure(name) == getattr(b, name)
        assert b.center_of_mass == (table["centerOfMassX"][row], table["centerOfMassY"][row])
    top = [b for b in scene if b.parent is None]
    assert sorted(b.id for b in scene.top) == [b.id for b in top]


def test_strided_views_are_their_copies():
    image = random_image(5, 60, 80)
    for view in (image[::2, ::3], image[::-1, ::-1], image.T, image[5:40, 10:70]):
        assert tables_equal(blob.analyze(view).table(), blob.analyze(np.ascontiguousarray(view)).table())


def test_threads_give_the_same_scene():
    image = random_image(11, 800, 700)  # large enough to be split into bands
    one = blob.analyze(image, connectivity="greyScale").table()
    for threads in (0, 2, 3):
        assert tables_equal(blob.analyze(image, threads=threads).table(), one)


def test_label_image_renders_the_scene():
    image = random_image(2)
    scene = blob.analyze(image, none=True, connectivity="labelled")
    assert np.array_equal(scene.label_image(), image)  # every pel belongs to a blob of its label
    scene.filter("area", 0, 10)
    kept = scene.label_image(shown=True, background=255)
    assert kept.shape == image.shape and set(np.unique(kept)) <= set(np.unique(image)) | {255}


def test_image_refusals():
    with pytest.raises(TypeError, match="uint8, not float64"):
        blob.analyze(np.zeros((4, 4)))
    with pytest.raises(ValueError, match="2-D array, not 3-D"):
        blob.analyze(np.zeros((4, 4, 3), np.uint8))
    with pytest.raises(blob.BadParams, match=r"^The width and height of image must be > 0\.$"):
        blob.analyze(np.zeros((0, 4), np.uint8))
    with pytest.raises(TypeError, match="mask must be an array of uint8"):
        blob.analyze(np.zeros((4, 4), np.uint8), mask=np.zeros((4, 4), bool))


@pytest.mark.parametrize("params, error, message", [
    ({"soft": (10, 5, 1)}, blob.BadParams, "The low threshold must be less than the high threshold."),
    ({"threshold_percent": (60, 50, 50)}, blob.BadParams, None),
    ({"fill": 3, "connectivity": "wholeImage"}, blob.BadParams, None),
    ({"prune": -1}, blob.BadParams, None),
    ({"exclude_percent": 50}, blob.BadParams, None),
    ({"client_from_image": (1, 2, 2, 4, 0, 0)}, blob.BadArgument, None),
    ({"threshold": 256}, ValueError, "threshold must be an integer in 0..255"),
    ({"connectivity": "eight"}, ValueError, "connectivity must be one of"),
    ({"morph": ("erode9",)}, ValueError, "unknown morphology 'erode9'"),
    ({"prune": 2, "fill": 2}, ValueError, "give prune or fill"),
    ({"none": True, "invert": True}, ValueError, "invert"),
])
def test_parameter_refusals(params, error, message):
    with pytest.raises(error) as raised:
        blob.analyze(random_image(1), **params)
    assert isinstance(raised.value, ValueError)
    if message:
        assert str(raised.value).startswith(message)
    if issubclass(error, blob.Error):
        assert raised.value.number in (0x10001a04, 0x10000020) and str(raised.value)


def test_scene_refusals():
    scene = blob.analyze(random_image(3))
    scene.filter("area", 1, 5)
    with pytest.raises(blob.DuplicateFilter):
        scene.filter("area", 1, 9)
    with pytest.raises(blob.BadParams):
        scene.filter("perimeter", 9, 1)
    with pytest.raises(ValueError, match="unknown measure 'size'"):
        scene.table(["size"])
    with pytest.raises(blob.BadId) as raised:
        scene[len(scene) + 1]
    assert isinstance(raised.value, LookupError) and raised.value.number == 0x10001a02
    with pytest.raises(blob.BadMeasure):
        blob.analyze(random_image(3), connectivity="wholeImage")[1].perimeter


def test_read_image(images, tmp_path):
    image, path = images[0]
    assert np.array_equal(blob.read_image(path), image)
    with pytest.raises(blob.ImageError, match="missing.png: "):
        blob.read_image(tmp_path / "missing.png")
    with pytest.raises(blob.ImageError, match="limit|more than|pels"):
        blob.read_image(path, max_pels=100)


def test_pandas_takes_the_table():
    pandas = pytest.importorskip("pandas")
    scene = blob.analyze(random_image(6))
    frame = pandas.DataFrame(scene.table(["area", "perimeter"], shown=True))
    assert list(frame.columns) == ["id", "parent", "label", "numChildren", "area", "perimeter"]
    assert list(frame["id"]) == [b.id for b in scene.shown] and frame["area"].dtype == np.float64
