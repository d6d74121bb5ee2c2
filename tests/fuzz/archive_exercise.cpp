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

using Bytes = std::vector<unsigned char>;

// Images larger than this are not rendered: their cost is the caller's choice, not the archive's.
constexpr std::uint64_t kMaxRenderedPels = std::uint64_t{1} << 22;

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
  Bytes bytes;
  if (!guarded([&] {
        kcArchive out(bytes, kcArchive::eStoring);
        out || object;
      }))
    return;  // storing may refuse (a blob of a scene alone, a value too wide)
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
  // A blob without a scene fails its invariant by definition.
  if (b.scene()) guarded([&] { b.repInvariant(); });
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
      const kcPelRect w = s.sceneWindow();
      if (static_cast<std::uint64_t>(w.width()) * static_cast<std::uint64_t>(w.height()) <= kMaxRenderedPels)
        s.makeImage(shown, 3);
    });
    guarded([&] {
      kcGraphicList list;
      s.draw(list, 63, shown);
    });
  }
  guarded([&] { s.repInvariant(); });
}

void queryRunImage(const kcRLEBuffer& r) {
  r.numRuns(), r.isBinary();
  if (static_cast<std::uint64_t>(r.width()) * static_cast<std::uint64_t>(r.height()) <= kMaxRenderedPels)
    guarded([&] { r.image(); });
  guarded([&] { r.projectHoriz(), r.projectVert(), r.projectDiag(); });
}

void queryParams(const kcBlobParams& p) {
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
  if (static_cast<std::uint64_t>(p.mask().width()) * static_cast<std::uint64_t>(p.mask().height()) <= kMaxRenderedPels) {
    kcBlobResults results;
    if (guarded([&] { kfBlobAnalysis(image, p, results); })) queryScene(*results.connectedBlobs());
  }
}

}  // namespace

const char* kindName(Kind k) {
  switch (k) {
    case Kind::eScene: return "scene";
    case Kind::eBlob: return "blob";
    case Kind::eParams: return "params";
    case Kind::eResults: return "results";
    case Kind::ePelImage: return "pel";
    case Kind::eRunImage: return "rle";
    case Kind::eTransform: return "xform";
  }
  return "";
}

bool loadAndQuery(Kind k, const unsigned char* data, std::size_t size) {
  kcArchive in(data, size);
  switch (k) {
    case Kind::eScene: {
      kcBlobSceneDescription scene;
      if (!guarded([&] { in || scene; })) return false;
      queryScene(scene);
      reloads(scene);
      return true;
    }
    case Kind::eBlob: {
      kcBlob blob;
      if (!guarded([&] { in || blob; })) return false;
      queryBlob(blob);
      reloads(blob);
      return true;
    }
    case Kind::eParams: {
      kcBlobParams params;
      if (!guarded([&] { in || params; })) return false;
      queryParams(params);
      reloads(params);
      return true;
    }
    case Kind::eResults: {
      kcBlobResults results;
      if (!guarded([&] { in || results; })) return false;
      for (const kcRLEBuffer* r : {&results.rle(), &results.masked(), &results.morphed()}) queryRunImage(*r);
      if (results.connectedBlobs()) queryScene(*results.connectedBlobs());
      reloads(results);
      return true;
    }
    case Kind::ePelImage: {
      kcPelBuffer<unsigned char> image;
      if (!guarded([&] { in || image; })) return false;
      reloads(image);
      return true;
    }
    case Kind::eRunImage: {
      kcRLEBuffer image;
      if (!guarded([&] { in || image; })) return false;
      queryRunImage(image);
      reloads(image);
      return true;
    }
    case Kind::eTransform: {
      kc2XformCache cache;
      if (!guarded([&] { in || cache; })) return false;
      guarded([&] { cache.xform()->mapPoint(kcVector<2>(1.5, -2.0)); });
      guarded([&] { cache.xformInverse()->mapPoint(kcVector<2>(0.0, 3.0)); });
      guarded([&] { cache.linearXform(); });
      reloads(cache);
      return true;
    }
  }
  return false;
}

void loadAndQueryAll(const unsigned char* data, std::size_t size) {
  for (Kind k : kKinds) loadAndQuery(k, data, size);
}

}  // namespace archive_exercise
