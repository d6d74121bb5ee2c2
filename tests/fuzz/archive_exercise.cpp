// Loading arbitrary bytes as each archived class and asking the result everything; what a scene
// or blob answers.
#include "archive_exercise.h"

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobtool.h>
#include <foundation/archive.h>
#include <foundation/exception.h>
#include <foundation/pelbuffer.h>
#include <foundation/rlebuffer.h>
#include <foundation/xform.h>
#include <graphics/graphic.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <typeinfo>
#include <vector>

namespace archive_exercise {
namespace {

// Images larger than this are not rendered: their cost is the caller's choice, not the archive's.
bool renderable(long width, long height) {
  return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= (std::uint64_t{1} << 22);
}

// guarded(f): runs f; the library's errors end it quietly, an internal assertion propagates.
template <class F>
bool guarded(F f) {
  try {
    f();
    return true;
  } catch (const kcInvariantFailure&) {
    throw;
  } catch (const kcException&) {
    return false;
  }
}

// reloads(object): object stored, then loaded into a fresh one of its class: must succeed.
template <class T>
void reloads(T& object) {
  std::vector<unsigned char> bytes;
  // Storing may refuse (a blob of a scene alone, a value too wide).
  if (!guarded([&] {
        kcArchive out(bytes, kcArchive::eStoring);
        out || object;
      }))
    return;
  T again;
  kcArchive in(bytes.data(), bytes.size());
  try {
    in || again;
  } catch (const kcException& e) {
    const std::wstring message = e.message(false);
    std::fprintf(stderr, "a stored %s does not load again: %ls\n", typeid(T).name(), message.c_str());
    std::abort();
  }
}

// answer(a, f): f()'s value into a, or its failure's number; an internal assertion propagates.
template <class F>
void answer(Answers& a, F f) {
  try {
    a.add(f());
  } catch (const kcInvariantFailure&) {
    throw;
  } catch (const kcException& e) {
    a.failed(e);
  }
}

long idOf(const kcBlob* b) { return b ? b->id() : 0; }

}  // namespace

void ask(const kcBlob& b, Answers& a) {
  a.add(b.id());
  answer(a, [&] { return static_cast<long>(b.label()); });
  answer(a, [&] { return b.imageBoundingBox(); });
  for (int m = -1; m <= 43; ++m) answer(a, [&] { return b.measure(static_cast<kcBlob::Measure>(m)); });
  answer(a, [&] {
    std::vector<keBlobDirection> code;
    const kcPair<long> start = b.boundaryChainCode(code);
    std::vector<long> values{start.x(), start.y()};
    for (keBlobDirection d : code) values.push_back(static_cast<long>(d));
    return values;
  });
  answer(a, [&] { return b.parent(); });
  for (bool shown : {false, true}) {
    answer(a, [&] { return std::vector<long>{idOf(b.nextSibling(shown)), idOf(b.prevSibling(shown))}; });
    answer(a, [&] { return std::vector<long>{idOf(b.firstChild(shown)), idOf(b.lastChild(shown)), b.numChildren(shown)}; });
  }
  for (double angle : {0.0, 0.7, -1.5707963267948966}) {
    for (bool exclude : {false, true}) {
      answer(a, [&] { return b.boundingBox(exclude, kcRadian(angle)); });
      answer(a, [&] { return b.center(exclude, kcRadian(angle)); });
    }
    answer(a, [&] { return b.median(kcRadian(angle)); });
  }
  answer(a, [&] {
    kcGraphicList list;
    b.draw(list, 63, L"fuzz");
    return static_cast<long>(list.size());
  });
  if (b.scene()) answer(a, [&] { return b.repInvariant(), 0L; });  // a blob without a scene fails it by definition
}

void ask(const kcBlobSceneDescription& s, Answers& a) {
  a.add(static_cast<long>(s.isDegenerate()));
  a.add(s.numFilters());
  for (long i = 0; i < s.numFilters(); ++i) {
    kcBlob::Measure m;
    double low, high;
    bool exclude;
    s.getFilter(i, m, low, high, exclude);
    a.add(std::vector<long>{m, exclude}), a.add(low), a.add(high);
  }
  kcBlob::Measure sortMeasure = kcBlob::eLabel;
  kcBlobSceneDescription::SortOrder order = kcBlobSceneDescription::eDescending;
  a.add(std::vector<long>{s.getSort(sortMeasure, order), sortMeasure, order});
  bool isClient = false, isPercent = false;
  a.add(s.extremaExcludeArea(isClient, isPercent)), a.add(std::vector<long>{isClient, isPercent});
  const kcXform<2> x = s.clientFromImageXform();
  for (double v : {s.extremaAngle().toDouble(), x.matrix().element(0, 0), x.matrix().element(0, 1),
                   x.matrix().element(1, 0), x.matrix().element(1, 1), x.trans().x(), x.trans().y()})
    a.add(v);
  if (s.isDegenerate()) return;
  answer(a, [&] { return std::vector<long>{s.connectivityKind(), s.cleanupKind()}; });
  answer(a, [&] { return static_cast<long>(s.scaleVal()); });
  answer(a, [&] { return s.minPels(); });
  a.add(s.sceneWindow());
  for (bool shown : {false, true}) {
    answer(a, [&] { return std::vector<long>{s.numBlobs(shown), idOf(s.firstTop(shown)), idOf(s.lastTop(shown))}; });
    answer(a, [&] {
      for (const kcBlob* b : s.allBlobs(shown)) ask(*b, a);
      return 0L;
    });
    answer(a, [&] {
      std::vector<long> pels;
      if (!renderable(s.sceneWindow().width(), s.sceneWindow().height())) return pels;
      const kcPelBuffer<unsigned char> image = s.makeImage(shown, 7);
      for (long y = 0; y < image.height(); ++y) pels.insert(pels.end(), image.pointToRow(y), image.pointToRow(y) + image.width());
      return pels;
    });
    answer(a, [&] {
      kcGraphicList list;
      s.draw(list, 63, shown);
      return static_cast<long>(list.size());
    });
  }
  answer(a, [&] { return s.repInvariant(), 0L; });
}

namespace {

void query(const kcRLEBuffer& r) {
  r.numRuns(), r.isBinary();
  if (renderable(r.width(), r.height())) guarded([&] { r.image(); });
  guarded([&] { r.projectHoriz(), r.projectVert(), r.projectDiag(); });
}

template <class T>
void query(const T& object) {
  Answers answers;
  ask(object, answers);
}
void query(const kcPelBuffer<unsigned char>&) {}

void query(const kcBlobResults& results) {
  for (const kcRLEBuffer* r : {&results.rle(), &results.masked(), &results.morphed()}) query(*r);
  if (results.connectedBlobs()) query(*results.connectedBlobs());
}

void query(const kc2XformCache& cache) {
  guarded([&] { cache.xform()->mapPoint(kcVector<2>(1.5, -2.0)); });
  guarded([&] { cache.xformInverse()->mapPoint(kcVector<2>(0.0, 3.0)); });
  guarded([&] { cache.linearXform(); });
}

void query(const kcBlobParams& p) {
  guarded([&] { p.map(); });
  guarded([&] { p.postMap(); });
  guarded([&] { p.threshImage(); });
  guarded([&] { p.thresh(), p.invert(), p.isThreshPercent(); });
  guarded([&] { p.hiThresh(), p.softness(); });
  guarded([&] { p.lowTailPercent(), p.hiTailPercent(); });
  // An analysis of a small image runs every stage the parameters select.
  kcPelBuffer<unsigned char> image(8, 6);
  for (long y = 0; y < 6; ++y)
    for (long x = 0; x < 8; ++x) image.pointToRow(y)[x] = static_cast<unsigned char>((x * 37 + y * 11) % 7);
  kcBlobResults results;
  if (renderable(p.mask().width(), p.mask().height()) && guarded([&] { kfBlobAnalysis(image, p, results); }))
    query(*results.connectedBlobs());
}

// dispatch(k, f): f.operator()<T>() for the class T that kind k loads as.
template <class F>
auto dispatch(Kind k, F f) {
  switch (k) {
    case Kind::eScene: return f.template operator()<kcBlobSceneDescription>();
    case Kind::eBlob: return f.template operator()<kcBlob>();
    case Kind::eParams: return f.template operator()<kcBlobParams>();
    case Kind::eResults: return f.template operator()<kcBlobResults>();
    case Kind::ePelImage: return f.template operator()<kcPelBuffer<unsigned char>>();
    case Kind::eRunImage: return f.template operator()<kcRLEBuffer>();
    case Kind::eTransform: break;
  }
  return f.template operator()<kc2XformCache>();
}

}  // namespace

const char* kindName(Kind k) {
  static const char* const names[] = {"scene", "blob", "params", "results", "pel", "rle", "xform"};
  return names[static_cast<int>(k)];
}

bool loadAndQuery(Kind k, const unsigned char* data, std::size_t size) {
  return dispatch(k, [&]<class T>() {
    kcArchive in(data, size);
    T object;
    if (!guarded([&] { in || object; })) return false;
    query(object);
    reloads(object);
    return true;
  });
}

std::vector<unsigned char> storedAgain(Kind k, const std::vector<unsigned char>& bytes) {
  return dispatch(k, [&]<class T>() {
    T object;
    kcArchive in(bytes.data(), bytes.size());
    in || object;
    std::vector<unsigned char> out;
    kcArchive ar(out, kcArchive::eStoring);
    ar || object;
    return out;
  });
}

bool currentForm(const std::string& name, Kind& k) {
  const std::string older = "-record-v";
  if (const auto at = name.find(older); at != std::string::npos && name.compare(at, older.size() + 1, older + "3") != 0)
    return false;
  for (Kind kind : kKinds) {
    const std::string prefix = std::string(kindName(kind)) + (kind == Kind::eScene ? "-v3-" : kind == Kind::eBlob ? "-v1-"
                                                              : kind == Kind::eParams ? "-v1-" : "-");
    if (name.rfind(prefix, 0) == 0) return k = kind, true;
  }
  return false;
}

void loadAndQueryAll(const unsigned char* data, std::size_t size) {
  for (Kind k : kKinds) loadAndQuery(k, data, size);
}

}  // namespace archive_exercise
