// The text reports of the diagnostics data: the input's segmentation and the result's scene.
#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <blob/blobdiag.h>

#include <foundation/text.h>

#include <algorithm>
#include <vector>

#include "analysis/params_check.h"

namespace {

using Scene = kcBlobSceneDescription;

std::wstring byteText(unsigned char value) { return kfStr(static_cast<long>(value)); }

std::wstring vectorText(double x, double y) { return L"( " + kfStr(x) + L" , " + kfStr(y) + L" )"; }

// "<prefix>T[%][ (inverted)]\n", the first line of both threshold kinds.
std::wstring thresholdLine(const wchar_t* prefix, const kcBlobParams& p) {
  return prefix + byteText(p.thresh()) + (p.isThreshPercent() ? L"%" : L"") + (p.invert() ? L" (inverted)" : L"") +
         L"\n";
}

std::wstring tailLines(const kcBlobParams& p) {
  if (!p.isThreshPercent()) return std::wstring();
  return L"Low Tail Percent = " + kfStr(p.lowTailPercent()) + L"\nHigh Tail Percent = " + kfStr(p.hiTailPercent()) +
         L"\n";
}

const wchar_t* kindText(Scene::Analysis kind) {
  switch (kind) {
    case Scene::eGreyScale: return L" eGreyScale \n";
    case Scene::eLabelled: return L" eLabelled \n";
    case Scene::eWholeImageGreyScale: return L" eWholeImageGreyScale \n";
  }
  return L"";
}

const wchar_t* cleanupText(Scene::ConnectCleanup cleanup) {
  switch (cleanup) {
    case Scene::eNone: return L" eNone \n";
    case Scene::ePrune: return L" ePrune \n";
    case Scene::eFill: return L" eFill \n";
  }
  return L"";
}

std::wstring blobText(const kcBlob& b, bool wholeImage) {
  const kcVector<2> center = b.centerOfMass();
  const kcPair<double> inertia = b.inertia();
  std::wstring text = L"\nBlob #" + kfStr(b.id()) + L":\n";
  text += L"  Center of Mass = " + vectorText(center.x(), center.y()) + L"\n";
  text += L"  Area = " + kfStr(b.area()) + L"\n";
  if (!wholeImage) text += L"  Perimeter = " + kfStr(b.perimeter()) + L"\n";
  text += L"  Inertia = " + vectorText(inertia.first, inertia.second) + L"\n";
  text += L"  Elongation = " + kfStr(b.elongation()) + L"\n";
  text += L"  Angle =" + kfDbl(b.angle().plain().toDouble(), 6, false) + L" radian\n";
  return text;
}

// The lines after "Connectivity Kind  = " for a scene. The blobs listed are those of the view, the
// ones "Number of Blobs" counts, in id order.
std::wstring sceneText(const Scene& scene) {
  const Scene::Analysis kind = scene.connectivityKind();
  std::wstring text = kindText(kind);
  if (kind != Scene::eLabelled) text += L"Scale Value  = " + byteText(scene.scaleVal()) + L"\n";
  const Scene::ConnectCleanup cleanup = scene.cleanupKind();
  text += L"Cleanup Kind  = " + std::wstring(cleanupText(cleanup));
  if (cleanup != Scene::eNone) text += L"Minimum Feature Size = " + kfStr(scene.minPels()) + L"\n";
  text += L"Number of Filters = " + kfStr(scene.numFilters()) + L"\n";
  text += L"Number of Blobs = " + kfStr(scene.numBlobs(true)) + L"\n";
  std::vector<const kcBlob*> shown = scene.allBlobs(true);
  std::sort(shown.begin(), shown.end(), [](const kcBlob* a, const kcBlob* b) { return a->id() < b->id(); });
  for (const kcBlob* blob : shown) text += blobText(*blob, kind == Scene::eWholeImageGreyScale);
  return text;
}

}  // namespace

std::wstring kcBlobDiagInputData::getAsText() const {
  const kcBlobParams& p = params();
  switch (p.segmentationType()) {
    case kcBlobParams::eNoSegmentation:
      return L"No segmentation. ScaleVal = " + byteText(p.scaleVal()) + L"\n";
    case kcBlobParams::eMap:
      return L"Map. ScaleVal = " + byteText(p.scaleVal()) + L"\n";
    case kcBlobParams::eThreshImage:
      return L"Threshold image. ScaleVal = " + byteText(p.scaleVal()) + L"\n";
    case kcBlobParams::eHardThresh:
      return thresholdLine(L"Hard threshold = ", p) + tailLines(p);
    case kcBlobParams::eSoftThresh: {
      const wchar_t* percent = p.isThreshPercent() ? L"%" : L"";
      return thresholdLine(L"Soft threshold = ", p) + L"High threshold = " + byteText(p.hiThresh()) + percent +
             L"\nSoftness = " + byteText(p.softness()) + L"\n" + tailLines(p);
    }
  }
  kf_ThrowBadSegmentationType();
}

std::wstring kcBlobDiagResultData::getAsText() const {
  std::wstring text = L"Connectivity Kind  = ";
  if (const Scene* scene = blobResults().connectedBlobs()) text += sceneText(*scene);
  return text + L"\n";
}
