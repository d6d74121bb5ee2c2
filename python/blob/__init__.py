"""Blob analysis of 8-bit images held in numpy arrays.

    import blob
    scene = blob.analyze(image, threshold=100)
    for b in scene.top:
        print(b.id, b.area, b.center_of_mass)
    columns = scene.table(["area", "centerOfMassX", "centerOfMassY"])

A Scene holds one analysis: every blob (foreground region) and hole (background region inside a
blob), arranged in a tree, each measured on request. Blobs are named by their id (1, 2, ...) and
keep their scene alive, so a Blob stays usable after its Scene object is gone. Every error of the
library raises a subclass of blob.Error carrying its error number; refused parameters are also
ValueErrors. Arguments of a wrong type raise TypeError, wrong values ValueError, each message
naming the argument.
"""

import base64 as _base64
import html as _html

import numpy as _np

from ._blob import (BadArgument, BadId, BadMeasure, BadParams, Degenerate, DuplicateFilter, Error,
                    ImageError)
from . import _args, _blob

__all__ = ["__version__", "analyze", "read_image", "demo_image", "Scene", "Blob", "MEASURES", "DEFAULT_MAX_PELS", "MAX_IMAGE_PELS",
           "Error", "BadParams", "BadMeasure", "BadId", "Degenerate", "DuplicateFilter", "BadArgument", "ImageError"]

#: The version of the build, as its libraries and blob-analyze --version give it.
__version__ = _blob.VERSION
#: Every measure of a blob by its library name, in measure-number order ("label", "area", ...).
MEASURES = tuple(_blob.MEASURES)
_NUMBER = {name: number for number, name in enumerate(MEASURES)}
#: The largest image or mask, in pels, that analyze and read_image take unless max_pels says more
#: (blob-analyze's --max-pels default), and the most max_pels may say.
DEFAULT_MAX_PELS = _blob.DEFAULT_MAX_PELS
MAX_IMAGE_PELS = _blob.MAX_IMAGE_PELS
#: The measures a table holds by default: all but label and numChildren, which are fixed columns.
TABLE_MEASURES = tuple(_blob.REPORTED_MEASURES)
_REPR_ROWS = 20
_REPR_MEASURES = ("area", "centerOfMassX", "centerOfMassY", "perimeter")

_CONNECTIVITY = dict(_blob.CONNECTIVITY)
_CLEANUP = dict(_blob.CLEANUP)
_MORPH = dict(_blob.MORPHOLOGY)
_GREY = dict(_blob.GREY)
_EXCLUSION_UNITS = {"exclude_area": "client", "exclude_pels": "pels", "exclude_percent": "percent"}


def _measure_number(name, argument="measure"):
    if not isinstance(name, str):
        raise TypeError(f"{argument} must be a measure name (a str), not {type(name).__name__}")
    try:
        return _NUMBER[name]
    except KeyError:
        raise ValueError(f"unknown measure {_args.show(name)}; valid names: {', '.join(MEASURES)}") from None


def _chosen(measures):
    """The measures named, checked, without label and numChildren (always columns of their own)."""
    if isinstance(measures, str):
        measures = (measures,)
    elif not hasattr(measures, "__iter__"):
        raise TypeError(f"measures must be a name or a sequence of names, not {type(measures).__name__}")
    measures = tuple(measures)
    for name in measures:
        _measure_number(name, "measures")
    names = tuple(name for name in measures if name in TABLE_MEASURES)
    if len(set(names)) != len(names):
        raise ValueError("a measure is named twice")
    return names


def _segmentation(threshold, invert, soft, none, threshold_percent):
    none = _args.flag("none", none)
    threshold = _args.byte("threshold", threshold)
    chosen = [name for name, value in (("soft", soft), ("threshold_percent", threshold_percent))
              if value is not None] + (["none"] if none else [])
    if len(chosen) > 1 or (chosen and threshold != 128):
        raise ValueError("give one of threshold, threshold_percent, soft and none")
    if none:
        if invert:
            raise ValueError("invert has no meaning with none")
        return "none", []
    if soft is not None:
        return "soft", [_args.byte(f"soft[{i}]", v) for i, v in enumerate(_args.items("soft", soft, 3))]
    if threshold_percent is not None:
        return "percent", [_args.integer(f"threshold_percent[{i}]", v, *_args.INT32)
                           for i, v in enumerate(_args.items("threshold_percent", threshold_percent, 3))]
    return "hard", [threshold]


def _connectivity(connectivity):
    if _args.text("connectivity", connectivity) not in _CONNECTIVITY:
        raise ValueError(f"connectivity must be one of {', '.join(_CONNECTIVITY)}, not {_args.show(connectivity)}")
    return _CONNECTIVITY[connectivity]


def _cleanup(prune, fill):
    if prune is not None and fill is not None:
        raise ValueError("give prune or fill, not both")
    if prune is not None:
        return _CLEANUP["prune"], _args.integer("prune", prune, *_args.INT32)
    if fill is not None:
        return _CLEANUP["fill"], _args.integer("fill", fill, *_args.INT32)
    return _CLEANUP["none"], 0


def _morphology(morph):
    if isinstance(morph, str):
        morph = (morph,)
    elif not hasattr(morph, "__iter__"):
        raise TypeError(f"morph must be a name or a sequence of names, not {type(morph).__name__}")
    ops = []
    for op in morph:
        if not isinstance(op, str) or op not in _MORPH:
            raise ValueError(f"unknown morphology {_args.show(op)}; valid names: {', '.join(_MORPH)}")
        ops.append(_MORPH[op])
    return ops


def _mask_offset(mask, mask_offset):
    if mask_offset is None:
        return None
    if mask is None:
        raise ValueError("mask_offset needs a mask")
    return tuple(_args.integer(f"mask_offset[{i}]", v, -_blob.MAX_IMAGE_SIDE, _blob.MAX_IMAGE_SIDE)
                 for i, v in enumerate(_args.items("mask_offset", mask_offset, 2)))


def _max_pels(max_pels):
    return _args.integer("max_pels", max_pels, 1, MAX_IMAGE_PELS)


def analyze(image, threshold=128, invert=False, soft=None, none=False, threshold_percent=None,
            connectivity="greyScale", prune=None, fill=None, morph=(), mask=None, mask_interior=False,
            mask_offset=None, angle=None, exclude_area=None, exclude_pels=None, exclude_percent=None,
            client_from_image=None, max_pels=DEFAULT_MAX_PELS, threads=1):
    """Analyses a 2-D uint8 array and returns its Scene.

    image: a numpy array of uint8, or an array-like that numpy.asarray makes one of (a list of
    lists of integers in 0..255 becomes uint8; other dtypes are refused).
    Segmentation, one of: threshold T (default 128: a pel at or above T is foreground);
    threshold_percent=(low_tail, high_tail, percent) of the histogram without its tails;
    soft=(low, high, softness); none=True (pel values as they are). invert swaps foreground and
    background for the thresholds.
    connectivity: "greyScale", "labelled" or "wholeImage". prune=N or fill=N removes or fills
    regions of fewer than N pels. morph: operations "erode0" ... "open2" applied in order.
    mask: a uint8 array of the image's size; only pels where it is not 0 are analysed
    (mask_interior: it also decides isInterior). A mask of another size needs mask_offset=(x, y),
    the image position of its top left pel; the image is then analysed where the mask covers it.
    The scene's measure settings: angle (radians) of the oriented box, centre and median;
    exclude_area, exclude_pels or exclude_percent to leave that much of each blob out of them at
    each extreme; client_from_image=(a, b, c, d, tx, ty) for client coordinates
    (x' = a x + b y + tx, y' = c x + d y + ty), in which every measure is given. These must be
    finite numbers.
    max_pels (1 .. MAX_IMAGE_PELS, default DEFAULT_MAX_PELS): an image or mask of more pels is
    refused with ValueError before anything is copied.
    threads (0 .. 256, default 1): the threads the analysis may use, 0 for one per core. The scene
    is the same whatever the count; images under about half a million pels use one thread.

    The image is copied once, whatever its strides, with the GIL held, and analysed without it.
    """
    image = _args.image("image", image)
    max_pels = _max_pels(max_pels)
    threads = _args.integer("threads", threads, 0, 256)
    invert = _args.flag("invert", invert)
    segmentation, values = _segmentation(threshold, invert, soft, none, threshold_percent)
    cleanup, min_pels = _cleanup(prune, fill)
    ops = _morphology(morph)
    if mask is not None:
        mask = _args.image("mask", mask)
    if _args.flag("mask_interior", mask_interior) and mask is None:
        raise ValueError("mask_interior needs a mask")
    offset = _mask_offset(mask, mask_offset)
    settings = _scene_settings(angle, exclude_area, exclude_pels, exclude_percent, client_from_image)
    handle = _blob.analyze(image, segmentation, values, invert, _connectivity(connectivity), cleanup, min_pels,
                           ops, mask, bool(mask_interior), offset, max_pels, threads)
    settings(handle)
    return Scene(handle, image)


def _scene_settings(angle, exclude_area, exclude_pels, exclude_percent, client_from_image):
    """The scene's measure settings, checked: a function that sets them on a scene handle."""
    exclusions = [(name, _args.real(name, value)) for name, value in
                  (("exclude_area", exclude_area), ("exclude_pels", exclude_pels),
                   ("exclude_percent", exclude_percent)) if value is not None]
    if len(exclusions) > 1:
        raise ValueError("give one of exclude_area, exclude_pels and exclude_percent")
    if angle is not None:
        angle = _args.real("angle", angle)
    if client_from_image is not None:
        client_from_image = _xform(client_from_image)

    def apply(handle):
        if angle is not None:
            handle.set_extrema_angle(angle)
        for name, value in exclusions:
            handle.set_extrema_exclusion(_EXCLUSION_UNITS[name], value)
        if client_from_image is not None:
            handle.set_client_from_image(*client_from_image)
    return apply


class Stream:
    """An image analysed as its rows arrive (blob.stream makes one). feed(rows) and finish()
    return the blob trees completed by then, each a Scene of one top-level blob with everything
    inside it, numbered (scene.number) in the order they completed."""

    __slots__ = ("_c", "_settings")

    def __init__(self, handle, settings):
        self._c = handle
        self._settings = settings

    def _scenes(self, trees):
        scenes = []
        for number, handle in trees:
            self._settings(handle)
            scene = Scene(handle)
            scene.number = number
            scenes.append(scene)
        return scenes

    def feed(self, rows):
        """The next rows (a 2-D uint8 array as wide as the stream, any number of rows): the trees
        they complete."""
        return self._scenes(self._c.feed(_args.image("rows", rows)))

    def finish(self):
        """The image ends: the trees still open. Feeding afterwards raises BadParams."""
        return self._scenes(self._c.finish())

    @property
    def rows_fed(self):
        return self._c.rows_fed

    @property
    def rows_held(self):
        """Rows from the first row of the oldest blob still open or waiting to the last row fed."""
        return self._c.rows_held


def stream(width, threshold=128, invert=False, soft=None, none=False, connectivity="greyScale", prune=None,
           fill=None, angle=None, exclude_area=None, exclude_pels=None, exclude_percent=None, client_from_image=None):
    """A Stream of images width pels wide, analysed as analyze would (the settings of analyze but
    percentages, masks and morphology, which need the whole image). Each tree's blobs, tree and
    measures are those of analyze on the whole image, in whole-image coordinates; the stream holds
    only the rows of the trees still open (with "wholeImage", whose one tree ends with the image,
    every row from the first blob pel; with "labelled", where the region around all others ends
    with the image, every row, and every tree comes at finish)."""
    width = _args.integer("width", width, 1, _blob.MAX_IMAGE_SIDE)
    segmentation, values = _segmentation(threshold, _args.flag("invert", invert), soft, none, None)
    cleanup, min_pels = _cleanup(prune, fill)
    settings = _scene_settings(angle, exclude_area, exclude_pels, exclude_percent, client_from_image)
    return Stream(_blob.Stream(width, segmentation, values, bool(invert), _connectivity(connectivity), cleanup,
                               min_pels), settings)


def stream_bands(bands, **settings):
    """Yields the blob trees (Scenes, numbered) of an image given as an iterable of row bands (2-D
    uint8 arrays of one width), as each completes; settings as for stream."""
    tracker = None
    for band in bands:
        band = _args.image("band", band)
        if tracker is None:
            tracker = stream(band.shape[1], **settings)
        yield from tracker.feed(band)
    if tracker is not None:
        yield from tracker.finish()


def _xform(xform):
    return tuple(_args.real(f"client_from_image[{i}]", v)
                 for i, v in enumerate(_args.items("client_from_image", xform, 6)))


def __getattr__(name):
    # blob.dask is imported on first use: importing Dask takes a while.
    if name == "dask":
        import importlib
        return importlib.import_module(".dask", __name__)
    raise AttributeError(f"module 'blob' has no attribute {name!r}")


def read_image(path, max_pels=DEFAULT_MAX_PELS, grey=None, page=0):
    """The 8-bit grey image file at path (PNG, binary PGM, TIFF, JPEG or BMP) as a 2-D uint8 array.

    grey ("luma", "red", "green" or "blue", as blob-analyze's --grey) says how a colour image
    becomes grey; without it colour is refused. page (from 1) picks a page of a multi-page TIFF.
    Raises ImageError (an OSError) for a file that cannot be read as one, or that holds more than
    max_pels pels (1 .. MAX_IMAGE_PELS). path is a str, bytes or os.PathLike, as for open(); one
    holding a NUL byte is refused with ValueError.
    """
    if grey is not None and (not isinstance(grey, str) or grey not in _GREY):
        raise ValueError(f"unknown grey rule {_args.show(grey)}; valid names: {', '.join(_GREY)}")
    return _blob.read_image(_args.path("path", path), _max_pels(max_pels), 0 if grey is None else _GREY[grey],
                            _args.integer("page", page, 0, 2**31 - 1))


def demo_image():
    """blob-analyze's built-in demo image: 256 x 192 pels, parts nested four levels deep."""
    return _blob.demo_image()


class Scene:
    """The blobs and holes of one analysis.

    len(scene) is the number of blobs and holes; iteration gives them in id order and scene[id] one
    of them. scene.top is the top level of the tree. Filters and a sort make the scene's view,
    scene.shown; everything else ignores them unless asked with shown=True.
    """

    __slots__ = ("_c", "_image", "number")

    def __init__(self, handle, image=None):
        if not isinstance(handle, _blob.Scene):
            raise TypeError("a Scene comes from blob.analyze")
        self._c = handle
        self._image = image
        self.number = None  # a stream's tree: its number in the order the trees completed

    @property
    def width(self):
        """Width of the analysed image, in pels."""
        return self._c.width

    @property
    def height(self):
        """Height of the analysed image, in pels."""
        return self._c.height

    def __len__(self):
        return self._c.num_blobs(False)

    def __iter__(self):
        return (Blob(self, i) for i in self._c.ids(False))

    def __getitem__(self, blob_id):
        b = Blob(self, blob_id)
        self._c.blob_fields(b.id)  # raises BadId for an id the scene does not have
        return b

    def __contains__(self, blob):
        return isinstance(blob, Blob) and blob.scene._c is self._c

    def __repr__(self):
        return f"<blob.Scene {self.width}x{self.height}, {len(self)} blobs and holes>"

    def blobs(self, shown=False):
        """Every blob and hole in id order, or with shown=True the filtered and sorted view."""
        return [Blob(self, i) for i in self._c.ids(_args.flag("shown", shown))]

    @property
    def top(self):
        """The top level of the tree (blobs without a parent), in the tree's order."""
        return [Blob(self, i) for i in self._c.top_ids(False)]

    @property
    def shown(self):
        """The view: the blobs passing every filter, in sort order (largest area first by default)."""
        return self.blobs(shown=True)

    @property
    def window(self):
        """The analysed image window: (x, y, width, height)."""
        return self._c.window()

    # ---- the view ----

    def filter(self, measure, low, high, exclude=False):
        """Keeps in the view the blobs whose measure lies in [low, high] (exclude: outside it).
        The limits may be infinite, never NaN."""
        self._c.set_filter(_measure_number(measure), _args.real("low", low, infinite=True),
                           _args.real("high", high, infinite=True), _args.flag("exclude", exclude))

    def unset_filter(self, measure):
        self._c.unset_filter(_measure_number(measure))

    def clear_filters(self):
        self._c.clear_filters()

    @property
    def filters(self):
        """The filters in the order set: a list of (measure, low, high, exclude)."""
        return [(MEASURES[m], low, high, exclude) for m, low, high, exclude in self._c.filters()]

    def sort(self, measure, ascending=False):
        """Orders the view by measure, largest first unless ascending."""
        self._c.set_sort(_measure_number(measure), _args.flag("ascending", ascending))

    def disable_sort(self):
        """Keeps the view in id order."""
        self._c.disable_sort()

    def clear_sort(self):
        """Forgets an explicit sort: the view keeps its order as the default."""
        self._c.clear_sort()

    @property
    def sort_order(self):
        """(measure, ascending) of the sort set, or None."""
        order = self._c.sort()
        return None if order is None else (MEASURES[order[0]], order[1])

    # ---- measure settings ----

    @property
    def angle(self):
        """Angle in radians of the oriented bounding box, centre, aspect and median measures."""
        return self._c.extrema_angle()

    @angle.setter
    def angle(self, radians):
        self._c.set_extrema_angle(_args.real("angle", radians))

    def exclude_area(self, area=None, pels=None, percent=None):
        """Leaves this much area of each blob out of the oriented extents at each extreme: in client
        units, in pels, or as a percentage of the blob's area (below 50). A finite number."""
        given = [(unit, name, value) for unit, name, value in
                 (("client", "area", area), ("pels", "pels", pels), ("percent", "percent", percent))
                 if value is not None]
        if len(given) != 1:
            raise ValueError("give one of area, pels and percent")
        unit, name, value = given[0]
        self._c.set_extrema_exclusion(unit, _args.real(name, value))

    @property
    def client_from_image(self):
        raise AttributeError("client_from_image can be set, not read")

    @client_from_image.setter
    def client_from_image(self, xform):
        self._c.set_client_from_image(*_xform(xform))

    # ---- results ----

    def overlay(self, image=None, draw=None, shown=False, zoom=1):
        """The image with its blobs' graphics drawn over it, each labelled with its id, as
        blob-analyze --overlay draws them: a (height * zoom, width * zoom, 3) uint8 RGB array.
        image: a uint8 array of the scene's size (a stream's tree: the pels of its window,
        scene.window); default the array given to analyze as it is now (the scene keeps a
        reference to it, not a copy). draw: graphics names, as --draw takes
        them (default centerOfMass, label, imageBoundingBox, boundary). shown: the view's blobs
        only. zoom (1 .. 8): output pels per image pel."""
        if image is None and self._image is None:
            raise ValueError("this scene keeps no image (a stream's tree): give image=")
        image = self._image if image is None else _args.image("image", image)
        draw = "" if draw is None else ",".join(_args.text("draw", name) for name in draw)
        return self._c.overlay(image, draw, _args.flag("shown", shown), _args.integer("zoom", zoom, 1, 8))

    def _repr_html_(self):
        """A notebook's view: the overlay (of images up to 2048 x 2048 pels) and the first rows of
        the table."""
        rows = min(len(self), _REPR_ROWS)
        names = [name for name in _REPR_MEASURES if name in TABLE_MEASURES]
        table = self.table(names)
        columns = ["id", "parent", "label", "numChildren", *names]
        cell = lambda v: "" if isinstance(v, float) and _np.isnan(v) else _html.escape(f"{v:.6g}")
        head = "".join(f"<th>{c}</th>" for c in columns)
        body = "".join("<tr>" + "".join(f"<td>{cell(table[c][i].item())}</td>" for c in columns) + "</tr>"
                       for i in range(rows))
        note = f"{self.width} \u00d7 {self.height} pels, {len(self)} blobs and holes"
        if rows < len(self):
            note += f"; the first {rows} listed"
        picture = ""
        if self._image is not None and max(self.width, self.height) <= 2048:
            zoom = max(1, min(8, -(-512 // max(self.width, self.height))))
            data = _base64.b64encode(_blob.png(self.overlay(zoom=zoom))).decode("ascii")
            picture = (f'<img src="data:image/png;base64,{data}" alt="overlay" '
                       'style="max-width:100%;image-rendering:pixelated">')
        return (f"<div>{picture}<p>{note}</p><table><thead><tr>{head}</tr></thead>"
                f"<tbody>{body}</tbody></table></div>")

    def table(self, measures=None, shown=False):
        """A dict of numpy arrays, one row per blob in id order (shown: in view order): the columns
        id, parent (0 at the top level), label and numChildren, then one float64 column per measure
        (library names; default every other measure), NaN where the analysis has no such measure.
        pandas.DataFrame(table) takes it as it is."""
        names = TABLE_MEASURES if measures is None else _chosen(measures)
        ids, parents, labels, children, values = self._c.table([_NUMBER[name] for name in names],
                                                               _args.flag("shown", shown))
        columns = {"id": ids, "parent": parents, "label": labels, "numChildren": children}
        columns.update(zip(names, values))
        return columns

    def label_image(self, shown=False, background=0):
        """The scene rendered as a uint8 array of its window: each blob's pels with their values in
        a grey-scale analysis, with its label in a labelled one; holes 0; background elsewhere
        (where a hole left out of the view lies, for one)."""
        return self._c.label_image(_args.flag("shown", shown), _args.byte("background", background))

    def to_json(self, measures=None, shown=False, file=None):
        """blob-analyze's JSON report of this image: {"images": [{"file": ..., "width": ...,
        "height": ..., "blobs": [...]}]}, the file null unless given (a str, bytes or os.PathLike:
        a str that cannot be encoded as UTF-8 is refused, bytes that are not UTF-8 are written as
        blob-analyze writes such file names)."""
        names = TABLE_MEASURES if measures is None else _chosen(measures)
        return self._c.to_json([_NUMBER[name] for name in names], _args.flag("shown", shown),
                               None if file is None else _args.label("file", file))


def _snake(name):
    return "".join("_" + c.lower() if c.isupper() else c for c in name)


class Blob:
    """A blob or hole of a scene, named by its id. Every measure is a property by its name in
    snake case (area, center_of_mass_x, ...), and blob.measure(library_name) gives it by the
    library's name. Holes have label 0 in a grey-scale analysis."""

    __slots__ = ("scene", "id")

    def __init__(self, scene, blob_id):
        if not isinstance(scene, Scene):
            raise TypeError(f"scene must be a blob.Scene, not {type(scene).__name__}")
        if isinstance(blob_id, (bool, _np.bool_)) or not isinstance(blob_id, (int, _np.integer)):
            raise TypeError(f"blob ids are integers, not {type(blob_id).__name__}")
        self.scene = scene
        self.id = int(blob_id)

    def __repr__(self):
        return f"<blob.Blob {self.id}>"

    def __eq__(self, other):
        return isinstance(other, Blob) and other.scene._c is self.scene._c and other.id == self.id

    def __hash__(self):
        return hash((id(self.scene._c), self.id))

    def measure(self, name):
        """The measure by its library name ("area", "centerOfMassX", ...)."""
        return self.scene._c.measure(self.id, _measure_number(name, "name"))

    @property
    def label(self):
        return self.scene._c.blob_fields(self.id)[1]

    @property
    def parent(self):
        """The enclosing blob or hole, None at the top level."""
        parent = self.scene._c.blob_fields(self.id)[0]
        return Blob(self.scene, parent) if parent else None

    @property
    def num_children(self):
        return self.scene._c.blob_fields(self.id)[2]

    def children_of(self, shown=False):
        """The enclosed blobs or holes in the tree's order, or with shown=True in view order."""
        return [Blob(self.scene, i) for i in self.scene._c.child_ids(self.id, _args.flag("shown", shown))]

    @property
    def children(self):
        return self.children_of()

    def __getattr__(self, name):
        # The library's own names (blob.centerOfMassX) as well as the snake-case properties.
        if name in _NUMBER:
            return self.measure(name)
        raise AttributeError(f"'Blob' object has no attribute {name!r}")


def _measure_property(number):
    return property(lambda self: self.scene._c.measure(self.id, number), doc=f"The {MEASURES[number]} measure.")


def _pair_property(first, second):
    x, y = _NUMBER[first], _NUMBER[second]
    return property(lambda self: (self.scene._c.measure(self.id, x), self.scene._c.measure(self.id, y)),
                    doc=f"({first}, {second})")


for _number, _name in enumerate(MEASURES):
    if _name not in ("label", "numChildren"):
        setattr(Blob, _snake(_name), _measure_property(_number))
for _name, (_first, _second) in {
        "center_of_mass": ("centerOfMassX", "centerOfMassY"),
        "inertia": ("inertiaX", "inertiaY"),
        "inertia_principal": ("inertiaPrincipalMin", "inertiaPrincipalMax"),
        "image_bounding_box_center": ("imageBoundingBoxCenterX", "imageBoundingBoxCenterY"),
        "median": ("medianX", "medianY"),
        "center": ("centerX", "centerY")}.items():
    setattr(Blob, _name, _pair_property(_first, _second))
del _number, _name, _first, _second
