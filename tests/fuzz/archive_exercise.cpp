// Loading arbitrary bytes as each archived class and asking the result everything.
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

void queryBlob(const kcBlob& b) {
  guarded([&] { b.label(), b.imageBoundingBox(), b.region().numRuns(); });
  for (int m = -1; m <= 43; ++m) guarded([&] { b.measure(static_cast<kcBlob::Measure>(m)); });
  guarded([&] {
    std::vector<keBlobDirection> code;
    b.boundaryChainCode(code);
  });
  for (bool shown : {false, true}) {
    guarded([&] { b.parent(), b.nextSibling(shown), b.prevSibling(shown); });
    guarded([&] { b.firstChild(shown), b.lastChild(shown), b.numChildren(shown); });
  }
  for (double angle : {0.0, 0.7, -1.5707963267948966}) {
    for (bool exclude : {false, true})
      guarded([&] { b.boundingBox(exclude, kcRadian(angle)), b.center(exclude, kcRadian(angle)); });
    guarded([&] { b.median(kcRadian(angle)); });
  }
  guarded([&] {
    kcGraphicList list;
    b.draw(list, 63, L"fuzz");
  });
  if (b.scene()) guarded([&] { b.repInvariant(); });  // a blob without a scene fails it by definition
}

void queryScene(const kcBlobSceneDescription& s) {
  guarded([&] { s.connectivityKind(), s.scaleVal(); });
  guarded([&] { s.cleanupKind(), s.minPels(); });
  guarded([&] { s.sceneWindow(), s.numFilters(), s.extremaAngle(), s.clientFromImageXform(); });
  for (bool shown : {false, true}) {
    guarded([&] { s.numBlobs(shown), s.firstTop(shown), s.lastTop(shown); });
    guarded([&] {
      for (const kcBlob* b : s.allBlobs(shown)) queryBlob(*b);
    });
    guarded([&] {
      if (renderable(s.sceneWindow().width(), s.sceneWindow().height())) s.makeImage(shown, 3);
    });
    guarded([&] {
      kcGraphicList list;
      s.draw(list, 63, shown);
    });
  }
  guarded([&] { s.repInvariant(); });
}

void query(const kcRLEBuffer& r) {
  r.numRuns(), r.isBinary();
  if (renderable(r.width(), r.height())) guarded([&] { r.image(); });
  guarded([&] { r.projectHoriz(), r.projectVert(), r.projectDiag(); });
}

void query(const kcBlobSceneDescription& s) { queryScene(s); }
void query(const kcBlob& b) { queryBlob(b); }
void query(const kcPelBuffer<unsigned char>&) {}

void query(const kcBlobResults& results) {
  for (const kcRLEBuffer* r : {&results.rle(), &results.masked(), &results.morphed()}) query(*r);
  if (results.connectedBlobs()) queryScene(*results.connectedBlobs());
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
    queryScene(*results.connectedBlobs());
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
