// Checks of connectivity settings: scale value, minimum pel count, cleanup and kind.
#include "connect/connect_settings.h"

#include <foundation/exception.h>

#include <cstdint>
#include <limits>

#include "base/messages.h"

namespace {

using Msg = kc_BlobMessages;

[[noreturn]] void refuse(Msg::Tool message) { throw kcBlobDefs::BadParams(Msg::kTool[message]); }

bool isCleanup(kcBlobSceneDescription::ConnectCleanup cleanup) {
  return cleanup == kcBlobSceneDescription::eNone || cleanup == kcBlobSceneDescription::ePrune ||
         cleanup == kcBlobSceneDescription::eFill;
}

}  // namespace

void kf_CheckScaleValue(unsigned char scaleVal) {
  if (scaleVal == 0) refuse(Msg::eScaleNotPositive);
}

void kf_CheckMinPels(long minPels) {
  if (minPels < 0) refuse(Msg::eMinPelsNegative);
  if (minPels > std::numeric_limits<std::int32_t>::max())
    throw kcBadArgument(L"The minimum number of pels must not exceed 2147483647.");
}

void kf_CheckConnectSettings(kcBlobSceneDescription::Analysis kind, unsigned char scaleVal,
                             kcBlobSceneDescription::ConnectCleanup cleanup, long minPels) {
  const bool cleans = cleanup != kcBlobSceneDescription::eNone;
  if (cleans && kind == kcBlobSceneDescription::eWholeImageGreyScale) refuse(Msg::eCleanupWithWholeImage);
  if (kind != kcBlobSceneDescription::eLabelled) kf_CheckScaleValue(scaleVal);
  if (!isCleanup(cleanup))
    throw kcBadArgument(L"The specified connectivity cleanup is not a valid enumeration value.");
  if (cleans) kf_CheckMinPels(minPels);
}
