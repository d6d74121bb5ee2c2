// blob._blob: the analysis on numpy images, scenes shared by the Python objects that use them, and
// the library's errors as Python exceptions. The Python package (blob/__init__.py) wraps it.
//
// Threads: images are copied with the GIL held, so no other thread can free or resize an array's
// memory while it is read, and analysed without it. Every query of a scene runs without the GIL,
// under the scene's own mutex, so two threads may use one scene (one at a time) and threads
// with scenes of their own run in parallel. Python objects hold the analysis through a shared
// pointer and name blobs by id, so nothing they hold can dangle.
#include <report/blob_rows.h>
#include <report/choices.h>
#include <report/demo_image.h>
#include <report/image_io.h>
#include <report/inputs.h>
#include <report/measures.h>
#include <report/output_format.h>
#include <report/pictures.h>
#include <report/version.h>

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobstream.h>
#include <blob/blobtool.h>

#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/text.h>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace py = pybind11;

namespace {

// ---- errors ----

// The module's exception classes, made once at import and kept for the life of the process.
struct ErrorClasses {
  PyObject* error = nullptr;  // blob.Error, the root: every library error, with its number
  PyObject* badParams = nullptr;
  PyObject* badMeasure = nullptr;
  PyObject* badId = nullptr;
  PyObject* degenerate = nullptr;
  PyObject* duplicateFilter = nullptr;
  PyObject* badArgument = nullptr;
  PyObject* imageError = nullptr;  // a file that cannot be read as an image (an OSError)
};
ErrorClasses errors;

PyObject* newErrorClass(py::module_& m, const char* name, const char* doc, std::vector<PyObject*> bases) {
  py::tuple baseTuple(bases.size());
  for (std::size_t i = 0; i < bases.size(); ++i) baseTuple[i] = py::reinterpret_borrow<py::object>(bases[i]);
  const std::string qualified = std::string("blob.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, baseTuple.ptr(), nullptr);
  if (cls == nullptr) throw py::error_already_set();
  m.add_object(name, py::reinterpret_borrow<py::object>(cls));
  return cls;
}

void makeErrorClasses(py::module_& m) {
  errors.error = newErrorClass(m, "Error", "An error of the blob library; number is its error number.",
                               {PyExc_Exception});
  errors.badParams = newErrorClass(m, "BadParams", "A parameter or argument the library refuses.",
                                   {errors.error, PyExc_ValueError});
  errors.badMeasure = newErrorClass(m, "BadMeasure", "A measure that is invalid or has no value in this analysis.",
                                    {errors.error, PyExc_ValueError});
  errors.badId = newErrorClass(m, "BadId", "A blob id the scene does not have.", {errors.error, PyExc_LookupError});
  errors.degenerate = newErrorClass(m, "Degenerate", "The scene holds no analysis.", {errors.error});
  errors.duplicateFilter = newErrorClass(m, "DuplicateFilter", "A second filter on one measure.",
                                         {errors.error, PyExc_ValueError});
  errors.badArgument = newErrorClass(m, "BadArgument", "A value the platform refuses (a size, a transform).",
                                     {errors.error, PyExc_ValueError});
  errors.imageError = newErrorClass(m, "ImageError", "A file that cannot be read as an 8-bit grey image.",
                                    {PyExc_OSError});
}

PyObject* classFor(long number) {
  switch (number) {
    case kcBlobDefs::BadParams::kErrorNumber:
      return errors.badParams;
    case kcBlob::BadMeasure::kErrorNumber:
      return errors.badMeasure;
    case kcBlobSceneDescription::BadId::kErrorNumber:
      return errors.badId;
    case kcBlobSceneDescription::Degenerate::kErrorNumber:
      return errors.degenerate;
    case kcBlobSceneDescription::DuplicateFilter::kErrorNumber:
      return errors.duplicateFilter;
    case 0x10000020:  // kcBadArgument
      return errors.badArgument;
    default:
      return errors.error;
  }
}

// textOf(message): a Python str of the UTF-8 message, bytes that are not UTF-8 (of a file name, say)
// written as backslash escapes.
py::object textOf(const std::string& message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<py::ssize_t>(message.size()), "backslashreplace");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(text);
}

// raise(error): sets the Python exception for a library error: its class by number, the library's
// message (with the class and number when the error carries no text) and the number attribute.
void raise(const kcException& error) {
  std::wstring text = error.message(false);
  if (text.empty()) text = error.message(true);
  PyObject* cls = classFor(error.errorNumber());
  py::object instance = py::reinterpret_borrow<py::object>(cls)(kfUtf8(text));
  instance.attr("number") = error.errorNumber();
  PyErr_SetObject(cls, instance.ptr());
}

void translate(std::exception_ptr thrown) {
  try {
    if (thrown) std::rethrow_exception(thrown);
  } catch (const kcException& error) {
    raise(error);
  } catch (const report::ImageError& error) {
    PyErr_SetObject(errors.imageError, textOf(error.what()).ptr());
  } catch (const report::InputError& error) {  // a folder that cannot be read or holds no image
    PyErr_SetObject(PyExc_FileNotFoundError, textOf(error.what()).ptr());
  }
}

// ---- images ----

// ImageView: a 2-D uint8 array's geometry, taken with the GIL; the array object keeps it alive.
struct ImageView {
  const unsigned char* data = nullptr;
  long width = 0;
  long height = 0;
  py::ssize_t rowStride = 0;
  py::ssize_t colStride = 0;
};

ImageView viewOf(const py::array& image, const char* what) {
  if (image.ndim() != 2) {
    throw py::value_error(std::string(what) + " must be a 2-D array, not " + std::to_string(image.ndim()) + "-D");
  }
  if (!image.dtype().is(py::dtype::of<std::uint8_t>())) {
    throw py::type_error(std::string(what) + " must be an array of uint8, not " +
                         py::str(image.dtype()).cast<std::string>());
  }
  ImageView view;
  view.data = static_cast<const unsigned char*>(image.data());
  view.height = static_cast<long>(image.shape(0));
  view.width = static_cast<long>(image.shape(1));
  view.rowStride = image.strides(0);
  view.colStride = image.strides(1);
  return view;
}

std::string sizeText(long width, long height) { return std::to_string(width) + " x " + std::to_string(height); }

// checkPels(view, what, maxPels): refuses an image of more than maxPels pels (kMaxImagePels at
// most) or with a side beyond kMaxImageSide, as reading a file would, before anything is copied.
void checkPels(const ImageView& view, const char* what, std::uint64_t maxPels) {
  if (view.width > report::kMaxImageSide || view.height > report::kMaxImageSide) {
    throw py::value_error(std::string("the ") + what + " of " + sizeText(view.width, view.height) +
                          " pels has a side longer than " + std::to_string(report::kMaxImageSide) + " pels");
  }
  const std::uint64_t limit = std::min(maxPels, report::kMaxImagePels);
  if (static_cast<std::uint64_t>(view.width) * static_cast<std::uint64_t>(view.height) > limit) {
    throw py::value_error(std::string("the ") + what + " of " + sizeText(view.width, view.height) +
                          " pels is larger than the limit of " + std::to_string(limit) + " pels (see max_pels)");
  }
}

// pelsOf(view): the pels as the library's image, in one copy whatever the strides (negative ones
// included). An empty array gives a bound empty image, which the analysis refuses with its message.
// Called with the GIL held: the array's memory lives only as long as no other thread frees it.
kcPelBuffer<unsigned char> pelsOf(const ImageView& view) {
  kcPelBuffer<unsigned char> pels(view.width, view.height);
  for (long y = 0; y < view.height; ++y) {
    const unsigned char* from = view.data + y * view.rowStride;
    unsigned char* to = pels.pointToRow(y);
    if (view.colStride == 1) {
      std::memcpy(to, from, static_cast<std::size_t>(view.width));
    } else {
      for (long x = 0; x < view.width; ++x) to[x] = from[x * view.colStride];
    }
  }
  return pels;
}

py::array_t<std::uint8_t> arrayOf(const kcPelBuffer_const<unsigned char>& pels) {
  py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(pels.height()), static_cast<py::ssize_t>(pels.width())});
  std::uint8_t* to = out.mutable_data();
  for (long y = 0; y < pels.height(); ++y) {
    std::memcpy(to + y * pels.width(), pels.pointToRow(y), static_cast<std::size_t>(pels.width()));
  }
  return out;
}

// adopt(values, shape): a C-ordered numpy array owning values' storage.
template <class T>
py::array_t<T> adopt(std::vector<T>&& values, std::vector<py::ssize_t> shape) {
  auto owned = std::make_unique<std::vector<T>>(std::move(values));
  py::capsule owner(owned.get(), [](void* p) { delete static_cast<std::vector<T>*>(p); });
  const T* data = owned.release()->data();
  return py::array_t<T>(std::move(shape), data, owner);
}

// ---- scenes ----

// Analysis: the results of one analysis, owning the scene, and the lock its queries take.
struct Analysis {
  kcBlobResults results;
  std::unique_ptr<kcBlobSceneDescription> tree;  // a stream's tree, which has no results of its own
  std::mutex mutex;
  long width = 0;
  long height = 0;
  kcBlobSceneDescription& scene() const { return tree ? *tree : *results.connectedBlobs(); }
};

std::vector<report::MeasureInfo> measureInfos(const std::vector<int>& numbers) {
  std::vector<report::MeasureInfo> infos;
  for (int number : numbers) {
    const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(number));
    if (name == nullptr) throw py::value_error("no measure number " + std::to_string(number));
    infos.push_back({name, number});
  }
  return infos;
}

// Scene: a Python handle on one analysis. Each query releases the GIL and takes the scene's lock.
class Scene {
 public:
  explicit Scene(std::shared_ptr<Analysis> analysis) : analysis_(std::move(analysis)) {}

  template <class Query>
  auto locked(Query query) const {
    py::gil_scoped_release noGil;
    std::lock_guard<std::mutex> lock(analysis_->mutex);
    return query(analysis_->scene());
  }

  long width() const { return analysis_->width; }
  long height() const { return analysis_->height; }

  long numBlobs(bool shown) const {
    return locked([&](const kcBlobSceneDescription& scene) { return scene.numBlobs(shown); });
  }

  std::vector<long> ids(bool shown) const {
    return locked([&](const kcBlobSceneDescription& scene) {
      std::vector<long> ids;
      for (const kcBlob* blob : scene.allBlobs(shown)) ids.push_back(blob->id());
      return ids;
    });
  }

  std::vector<long> topIds(bool shown) const {
    return locked([&](const kcBlobSceneDescription& scene) {
      std::vector<long> ids;
      for (const kcBlob* blob = scene.firstTop(shown); blob != nullptr; blob = blob->nextSibling(shown)) {
        ids.push_back(blob->id());
      }
      return ids;
    });
  }

  std::vector<long> childIds(long id, bool shown) const {
    return locked([&](const kcBlobSceneDescription& scene) {
      std::vector<long> ids;
      for (const kcBlob* child = scene.getBlob(id)->firstChild(shown); child != nullptr;
           child = child->nextSibling(shown)) {
        ids.push_back(child->id());
      }
      return ids;
    });
  }

  // blobFields(id): (parent id or 0, label, number of children).
  std::tuple<long, long, long> blobFields(long id) const {
    return locked([&](const kcBlobSceneDescription& scene) {
      const kcBlob* blob = scene.getBlob(id);
      const kcBlob* parent = blob->parent();
      return std::make_tuple(parent ? parent->id() : 0L, blob->label(), blob->numChildren(false));
    });
  }

  double measure(long id, int number) const {
    return locked([&](const kcBlobSceneDescription& scene) {
      return scene.getBlob(id)->measure(static_cast<kcBlob::Measure>(number));
    });
  }

  // table(numbers, shown): id, parent, label and numChildren columns, and one row of values per
  // measure (NaN where the analysis kind has no such measure), blobs in id or view order. The
  // columns are filled in place and handed to numpy without a copy.
  py::tuple table(const std::vector<int>& numbers, bool shown) const {
    const std::vector<report::MeasureInfo> infos = measureInfos(numbers);
    std::vector<std::int64_t> id, parent, label, numChildren;
    std::vector<double> values;
    locked([&](const kcBlobSceneDescription& scene) {
      const std::vector<const kcBlob*> blobs = scene.allBlobs(shown);
      const std::size_t n = blobs.size();
      id.resize(n), parent.resize(n), label.resize(n), numChildren.resize(n), values.resize(n * infos.size());
      for (std::size_t i = 0; i < n; ++i) {
        const kcBlob& blob = *blobs[i];
        const kcBlob* up = blob.parent();
        id[i] = blob.id();
        parent[i] = up ? up->id() : 0;
        label[i] = blob.label();
        numChildren[i] = blob.numChildren(false);
        for (std::size_t j = 0; j < infos.size(); ++j) values[j * n + i] = report::measureValue(blob, infos[j].number);
      }
      return 0;
    });
    const auto n = static_cast<py::ssize_t>(id.size());
    const auto m = static_cast<py::ssize_t>(infos.size());
    return py::make_tuple(adopt(std::move(id), {n}), adopt(std::move(parent), {n}), adopt(std::move(label), {n}),
                          adopt(std::move(numChildren), {n}), adopt(std::move(values), {m, n}));
  }

  // toJson(numbers, shown, file): blob-analyze's JSON report of this one image.
  std::string toJson(const std::vector<int>& numbers, bool shown, const std::optional<std::string>& file) const {
    const std::vector<report::MeasureInfo> infos = measureInfos(numbers);
    report::ImageReport imageReport;
    imageReport.file = file.value_or("");
    imageReport.demo = !file.has_value();
    imageReport.width = width();
    imageReport.height = height();
    imageReport.viewOrder = shown;
    imageReport.blobs = std::make_shared<report::RowTable>(locked([&](const kcBlobSceneDescription& scene) {
      std::vector<report::BlobRow> rows;
      for (const kcBlob* blob : scene.allBlobs(shown)) rows.push_back(report::blobRow(*blob, infos));
      return rows;
    }));
    std::vector<std::string> names;
    for (const report::MeasureInfo& info : infos) names.emplace_back(info.name);
    std::ostringstream out;
    const auto writer = report::makeReportWriter(report::Format::eJson, out, names);
    writer->image(imageReport);
    writer->finish();
    return out.str();
  }

  py::array_t<std::uint8_t> labelImage(bool shown, unsigned char background) const {
    return arrayOf(locked([&](const kcBlobSceneDescription& scene) { return scene.makeImage(shown, background); }));
  }

  // overlay(image, draw, shown, zoom): report::renderOverlay of image, which must be the scene's
  // size and covers its window, with the graphics the comma-separated names in draw select (empty: the program's
  // default), as a (height * zoom, width * zoom, 3) uint8 array.
  py::array_t<std::uint8_t> overlay(const py::array& image, const std::string& draw, bool shown, int zoom) const {
    const ImageView view = viewOf(image, "image");
    if (view.width != width() || view.height != height()) {
      throw py::value_error("the image is " + sizeText(view.width, view.height) + " pels, the scene " +
                            sizeText(width(), height()));
    }
    unsigned long flags = report::kDefaultDrawFlags;
    try {
      if (!draw.empty()) flags = report::drawFlags(draw);
    } catch (const std::invalid_argument& error) {
      throw py::value_error(std::string("draw: ") + error.what());
    }
    kcPelBuffer<unsigned char> pels = pelsOf(view);
    const auto [x, y, w, h] = window();
    pels.offset(kcPair<long>(x, y));  // the image covers the scene's window (a stream's tree: its box)
    const kcRgbImage canvas = locked(
        [&](const kcBlobSceneDescription& scene) { return report::renderOverlay(pels, scene, flags, shown, zoom); });
    py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(canvas.height), static_cast<py::ssize_t>(canvas.width),
                                   static_cast<py::ssize_t>(3)});
    std::memcpy(out.mutable_data(), canvas.pels.data(), canvas.pels.size());
    return out;
  }

  std::tuple<long, long, long, long> window() const {
    return locked([](const kcBlobSceneDescription& scene) {
      const kcPelRect rect = scene.sceneWindow();
      return std::make_tuple(rect.ul().x(), rect.ul().y(), rect.width(), rect.height());
    });
  }

  // ---- the view and the measure settings; the library's refusals pass through ----

  void setFilter(int m, double low, double high, bool exclude) {
    change([&](kcBlobSceneDescription& scene) { scene.setFilter(measureOf(m), low, high, exclude); });
  }
  void unsetFilter(int m) {
    change([&](kcBlobSceneDescription& scene) { scene.unSetFilter(measureOf(m)); });
  }
  void clearFilters() {
    change([](kcBlobSceneDescription& scene) { scene.clearFilters(); });
  }
  void setSort(int m, bool ascending) {
    const auto order = ascending ? kcBlobSceneDescription::eAscending : kcBlobSceneDescription::eDescending;
    change([&](kcBlobSceneDescription& scene) { scene.setSort(measureOf(m), order); });
  }
  void disableSort() {
    change([](kcBlobSceneDescription& scene) { scene.disableSort(); });
  }
  void clearSort() {
    change([](kcBlobSceneDescription& scene) { scene.clearSort(); });
  }
  double extremaAngle() const {
    return locked([](const kcBlobSceneDescription& scene) { return scene.extremaAngle().toDouble(); });
  }
  void setExtremaAngle(double radians) {
    change([&](kcBlobSceneDescription& scene) { scene.extremaAngle(kcRadian(radians)); });
  }
  // setExtremaExclusion(unit, amount): unit "client", "pels" or "percent".
  void setExtremaExclusion(const std::string& unit, double amount) {
    if (unit != "client" && unit != "pels" && unit != "percent") {
      throw py::value_error("unknown exclusion unit '" + unit + "'");
    }
    change([&](kcBlobSceneDescription& scene) {
      if (unit == "client") scene.extremaExcludeArea(amount);
      if (unit == "pels") scene.extremaExcludeAreaPels(amount);
      if (unit == "percent") scene.extremaExcludeAreaPercent(amount);
    });
  }
  void setClientFromImage(double a, double b, double c, double d, double tx, double ty) {
    const kcXform<2> xform(kcMatrix<2>(a, b, c, d), kcVector<2>(tx, ty));
    change([&](kcBlobSceneDescription& scene) { scene.clientFromImageXform(xform); });
  }

  std::vector<std::tuple<int, double, double, bool>> filters() const {
    return locked([](const kcBlobSceneDescription& scene) {
      std::vector<std::tuple<int, double, double, bool>> list;
      for (long i = 0; i < scene.numFilters(); ++i) {
        kcBlob::Measure m{};
        double low = 0, high = 0;
        bool exclude = false;
        scene.getFilter(i, m, low, high, exclude);
        list.emplace_back(static_cast<int>(m), low, high, exclude);
      }
      return list;
    });
  }

  std::optional<std::tuple<int, bool>> sort() const {
    return locked([](const kcBlobSceneDescription& scene) -> std::optional<std::tuple<int, bool>> {
      kcBlob::Measure m{};
      kcBlobSceneDescription::SortOrder order{};
      if (!scene.getSort(m, order)) return std::nullopt;
      return std::make_tuple(static_cast<int>(m), order == kcBlobSceneDescription::eAscending);
    });
  }

 private:
  static kcBlob::Measure measureOf(int number) { return static_cast<kcBlob::Measure>(number); }

  template <class Change>
  void change(Change change) {
    py::gil_scoped_release noGil;
    std::lock_guard<std::mutex> lock(analysis_->mutex);
    change(analysis_->scene());
  }

  std::shared_ptr<Analysis> analysis_;
};

// idOf(id): a blob id from Python. An integer beyond a long names no blob and becomes 0, which the
// scene refuses with BadId as it refuses every id it does not have.
long idOf(const py::int_& id) {
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(id.ptr(), &overflow);
  if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
  return overflow != 0 ? 0 : value;
}

// ---- the analysis ----

void setSegmentation(kcBlobParams& params, const std::string& kind, const std::vector<long>& v, bool invert) {
  const auto byte = [](long value) { return static_cast<unsigned char>(value); };  // ranges checked by the caller
  if (kind == "hard" && v.size() == 1) {
    params.setSegmentationHardThresh(byte(v[0]), invert);
  } else if (kind == "percent" && v.size() == 3) {
    params.setSegmentationHardThresh(v[0], v[1], v[2], invert);
  } else if (kind == "soft" && v.size() == 3) {
    params.setSegmentationSoftThresh(byte(v[0]), byte(v[1]), byte(v[2]), invert);
  } else if (kind == "none" && v.empty()) {
    params.setSegmentationNone(1);
  } else {
    throw py::value_error("unknown segmentation '" + kind + "' with " + std::to_string(v.size()) + " values");
  }
}

// analyze(...): the scene of one analysis. The image and the mask are checked against maxPels, the
// mask for pels, and its size against the image's unless maskOffset places it, all before anything
// is copied. threads: as kfBlobAnalysis takes it (0: one per core).
Scene analyze(const py::array& image, const std::string& segmentation, const std::vector<long>& values, bool invert,
              int connectivity, int cleanup, long minPels, const std::vector<int>& morph,
              const std::optional<py::array>& mask, bool maskInterior,
              const std::optional<std::pair<long, long>>& maskOffset, std::uint64_t maxPels, int threads) {
  const ImageView imageView = viewOf(image, "image");
  checkPels(imageView, "image", maxPels);
  std::optional<ImageView> maskView;
  if (mask) {
    maskView = viewOf(*mask, "mask");
    checkPels(*maskView, "mask", maxPels);
    // A mask without pels would be no mask at all to the library, where it should cover nothing.
    if (maskView->width == 0 || maskView->height == 0) throw py::value_error("the mask has no pels");
    if (!maskOffset && (maskView->width != imageView.width || maskView->height != imageView.height)) {
      throw py::value_error("the mask is " + sizeText(maskView->width, maskView->height) + " pels, the image " +
                            sizeText(imageView.width, imageView.height) +
                            " (mask_offset places a mask of another size)");
    }
  }

  kcBlobParams params;
  setSegmentation(params, segmentation, values, invert);
  params.connectivityType(static_cast<kcBlobSceneDescription::Analysis>(connectivity));
  params.connectivityCleanup(static_cast<kcBlobSceneDescription::ConnectCleanup>(cleanup));
  params.connectivityMinPels(minPels);
  std::vector<keBlobParamsMorphOp> ops;
  for (int op : morph) ops.push_back(static_cast<keBlobParamsMorphOp>(op));
  params.morph(ops);

  auto analysis = std::make_shared<Analysis>();
  analysis->width = imageView.width;
  analysis->height = imageView.height;
  const kcPelBuffer<unsigned char> pels = pelsOf(imageView);
  std::optional<kcPelBuffer<unsigned char>> maskPels;
  if (maskView) maskPels.emplace(pelsOf(*maskView));
  {
    py::gil_scoped_release noGil;
    if (maskPels) {
      kcRLEBuffer runs;
      runs.encode(*maskPels);
      maskPels.reset();
      if (maskOffset) runs.offset(kcPair<long>(maskOffset->first, maskOffset->second));
      params.mask(runs);
      params.useMaskForInterior(maskInterior);
    }
    kfBlobAnalysis<kcPelBuffer<unsigned char>>(pels, params, analysis->results, threads);
  }
  return Scene(std::move(analysis));
}

// pngBytes(pels): a C-contiguous uint8 array of (height, width) grey or (height, width, 3) RGB pels
// as a PNG file.
py::bytes pngBytes(const py::array_t<std::uint8_t, py::array::c_style>& pels) {
  if (!(pels.ndim() == 2 || (pels.ndim() == 3 && pels.shape(2) == 3))) {
    throw py::value_error("png needs a (height, width) or (height, width, 3) array");
  }
  const long height = static_cast<long>(pels.shape(0)), width = static_cast<long>(pels.shape(1));
  const int channels = pels.ndim() == 3 ? 3 : 1;
  const std::uint8_t* const first = pels.data();
  std::ostringstream out;
  {
    py::gil_scoped_release noGil;
    report::PngWriter png(out, width, height, channels);
    for (long y = 0; y < height; ++y) png.row(first + static_cast<std::size_t>(y) * static_cast<std::size_t>(width * channels));
    png.finish();
  }
  return py::bytes(out.str());
}

// Stream: a kcBlobStream; feed() and finish() hand out the trees completed as (number, Scene),
// each scene as wide and high as its window (the tree's box and a pel around it).
class Stream {
 public:
  Stream(long width, const std::string& segmentation, const std::vector<long>& values, bool invert, int connectivity,
         int cleanup, long minPels)
      : stream_(params(segmentation, values, invert, connectivity, cleanup, minPels), width), width_(width) {}

  std::vector<std::pair<long, Scene>> feed(const py::array& rows) {
    const ImageView view = viewOf(rows, "rows");
    if (view.width != width_) {
      throw py::value_error("rows are " + std::to_string(view.width) + " pels wide, the stream " +
                            std::to_string(width_));
    }
    const kcPelBuffer<unsigned char> pels = pelsOf(view);
    py::gil_scoped_release noGil;
    stream_.feed(pels);
    return taken();
  }
  std::vector<std::pair<long, Scene>> finish() {
    py::gil_scoped_release noGil;
    stream_.finish();
    return taken();
  }
  long rowsFed() const { return stream_.rowsFed(); }
  long rowsHeld() const { return stream_.rowsHeld(); }

 private:
  static kcBlobParams params(const std::string& segmentation, const std::vector<long>& values, bool invert,
                             int connectivity, int cleanup, long minPels) {
    kcBlobParams p;
    setSegmentation(p, segmentation, values, invert);
    p.connectivityType(static_cast<kcBlobSceneDescription::Analysis>(connectivity));
    p.connectivityCleanup(static_cast<kcBlobSceneDescription::ConnectCleanup>(cleanup));
    p.connectivityMinPels(minPels);
    return p;
  }
  std::vector<std::pair<long, Scene>> taken() {
    std::vector<std::pair<long, Scene>> trees;
    long number = 0;
    while (auto tree = stream_.take(&number)) {
      auto analysis = std::make_shared<Analysis>();
      const kcPelRect window = tree->sceneWindow();
      analysis->width = window.width();
      analysis->height = window.height();
      analysis->tree = std::move(tree);
      trees.emplace_back(number, Scene(std::move(analysis)));
    }
    return trees;
  }

  kcBlobStream stream_;
  long width_;
};

py::array_t<std::uint8_t> arrayOf(const report::GreyImage& image) {
  py::array_t<std::uint8_t> out({static_cast<py::ssize_t>(image.height), static_cast<py::ssize_t>(image.width)});
  std::memcpy(out.mutable_data(), image.pels.data(), image.pels.size());
  return out;
}

// readImage(path, maxPels, grey, page): the file's pels (a page of a TIFF when page is not 0, colour
// made grey by grey, a ColourToGrey number); path is the file name's bytes.
py::array_t<std::uint8_t> readImage(const std::string& path, std::uint64_t maxPels, int grey, long page) {
  if (path.find('\0') != std::string::npos) throw py::value_error("path holds a NUL byte");
  report::GreyImage image;
  {
    py::gil_scoped_release noGil;
    try {
      image = report::readImage(path, maxPels, static_cast<report::ColourToGrey>(grey), page);
    } catch (const report::ImageError& error) {
      throw report::ImageError(path + ": " + error.what());
    }
  }
  return arrayOf(image);
}

// expandInputs(inputs, recursive): report::expandInputs on file names as bytes, which are handed back
// as bytes: a name that is not UTF-8 stays the name of its file.
std::vector<py::bytes> expandInputs(const std::vector<std::string>& inputs, bool recursive) {
  std::vector<std::string> files;
  {
    py::gil_scoped_release noGil;
    files = report::expandInputs(inputs, recursive);
  }
  return {files.begin(), files.end()};
}

// choiceDict(choices): {name: number} in the order of choices.
py::dict choiceDict(std::span<const report::Choice> choices) {
  py::dict dict;
  for (const report::Choice& choice : choices) dict[py::str(std::string(choice.name))] = choice.number;
  return dict;
}

}  // namespace

PYBIND11_MODULE(_blob, module) {
  module.doc() = "The blob library's analysis, scenes and errors; use the blob package, which wraps them.";
  makeErrorClasses(module);
  py::register_exception_translator(translate);

  std::vector<std::string> names;
  for (int i = 0; const char* name = kfBlobMeasureName(static_cast<kcBlob::Measure>(i)); ++i) names.emplace_back(name);
  module.attr("MEASURES") = py::tuple(py::cast(names));
  module.attr("MAX_IMAGE_PELS") = report::kMaxImagePels;
  module.attr("DEFAULT_MAX_PELS") = report::kDefaultMaxPels;
  module.attr("MAX_IMAGE_SIDE") = report::kMaxImageSide;
  std::vector<std::string> reported;
  for (const report::MeasureInfo& info : report::reportedMeasures()) reported.emplace_back(info.name);
  module.attr("REPORTED_MEASURES") = py::tuple(py::cast(reported));
  module.attr("CONNECTIVITY") = choiceDict(report::connectivityChoices());
  module.attr("CLEANUP") = choiceDict(report::cleanupChoices());
  module.attr("MORPHOLOGY") = choiceDict(report::morphChoices());
  module.attr("GREY") = choiceDict(report::greyChoices());
  module.attr("VERSION") = std::string(report::version());

  module.def("analyze", &analyze, py::arg("image"), py::arg("segmentation"), py::arg("values"), py::arg("invert"),
        py::arg("connectivity"), py::arg("cleanup"), py::arg("min_pels"), py::arg("morph"), py::arg("mask"),
        py::arg("mask_interior"), py::arg("mask_offset"), py::arg("max_pels"), py::arg("threads"));
  module.def("read_image", &readImage, py::arg("path"), py::arg("max_pels"), py::arg("grey"), py::arg("page"));
  module.def("demo_image", [] { return arrayOf(report::makeDemoImage()); });
  module.def("png", &pngBytes, py::arg("pels"));
  py::class_<Stream>(module, "Stream")
      .def(py::init<long, const std::string&, const std::vector<long>&, bool, int, int, long>())
      .def("feed", &Stream::feed)
      .def("finish", &Stream::finish)
      .def_property_readonly("rows_fed", &Stream::rowsFed)
      .def_property_readonly("rows_held", &Stream::rowsHeld);
  module.def("expand_inputs", &expandInputs, py::arg("inputs"), py::arg("recursive"));

  py::class_<Scene>(module, "Scene")
      .def_property_readonly("width", &Scene::width)
      .def_property_readonly("height", &Scene::height)
      .def("num_blobs", &Scene::numBlobs)
      .def("ids", &Scene::ids)
      .def("top_ids", &Scene::topIds)
      .def("child_ids",
           [](const Scene& scene, const py::int_& id, bool shown) { return scene.childIds(idOf(id), shown); })
      .def("blob_fields", [](const Scene& scene, const py::int_& id) { return scene.blobFields(idOf(id)); })
      .def("measure", [](const Scene& scene, const py::int_& id, int m) { return scene.measure(idOf(id), m); })
      .def("table", &Scene::table)
      .def("to_json", &Scene::toJson)
      .def("label_image", &Scene::labelImage)
      .def("overlay", &Scene::overlay)
      .def("window", &Scene::window)
      .def("filters", &Scene::filters)
      .def("sort", &Scene::sort)
      .def("set_filter", &Scene::setFilter)
      .def("unset_filter", &Scene::unsetFilter)
      .def("clear_filters", &Scene::clearFilters)
      .def("set_sort", &Scene::setSort)
      .def("disable_sort", &Scene::disableSort)
      .def("clear_sort", &Scene::clearSort)
      .def("extrema_angle", &Scene::extremaAngle)
      .def("set_extrema_angle", &Scene::setExtremaAngle)
      .def("set_extrema_exclusion", &Scene::setExtremaExclusion)
      .def("set_client_from_image", &Scene::setClientFromImage);
}
