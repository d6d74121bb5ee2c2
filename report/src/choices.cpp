// The named choices, each number taken from the library's or the report's own enumeration.
#include <report/choices.h>

#include <report/image_io.h>
#include <report/output_format.h>

#include <blob/blobdesc.h>
#include <blob/blobtool.h>

#include <algorithm>
#include <array>

namespace report {
namespace {

using Scene = kcBlobSceneDescription;

constexpr std::array kConnectivity = {Choice{"greyScale", Scene::eGreyScale}, Choice{"labelled", Scene::eLabelled},
                                      Choice{"wholeImage", Scene::eWholeImageGreyScale}};
constexpr std::array kCleanup = {Choice{"none", Scene::eNone}, Choice{"prune", Scene::ePrune},
                                 Choice{"fill", Scene::eFill}};
constexpr std::array kMorph = {
    Choice{"erode0", eMorphErode0}, Choice{"erode1", eMorphErode1}, Choice{"erode2", eMorphErode2},
    Choice{"dilate0", eMorphDilate0}, Choice{"dilate1", eMorphDilate1}, Choice{"dilate2", eMorphDilate2},
    Choice{"close0", eMorphClose0}, Choice{"close1", eMorphClose1}, Choice{"close2", eMorphClose2},
    Choice{"open0", eMorphOpen0}, Choice{"open1", eMorphOpen1}, Choice{"open2", eMorphOpen2}};
constexpr std::array kFormat = {Choice{"table", static_cast<int>(Format::eTable)},
                                Choice{"json", static_cast<int>(Format::eJson)},
                                Choice{"csv", static_cast<int>(Format::eCsv)}};
constexpr std::array kGrey = {Choice{"luma", static_cast<int>(ColourToGrey::eLuma)},
                              Choice{"red", static_cast<int>(ColourToGrey::eRed)},
                              Choice{"green", static_cast<int>(ColourToGrey::eGreen)},
                              Choice{"blue", static_cast<int>(ColourToGrey::eBlue)}};

}  // namespace

std::span<const Choice> connectivityChoices() { return kConnectivity; }
std::span<const Choice> cleanupChoices() { return kCleanup; }
std::span<const Choice> morphChoices() { return kMorph; }
std::span<const Choice> formatChoices() { return kFormat; }
std::span<const Choice> greyChoices() { return kGrey; }

std::optional<int> findChoice(std::span<const Choice> choices, std::string_view name) {
  const auto found = std::find_if(choices.begin(), choices.end(), [&](const Choice& c) { return c.name == name; });
  if (found == choices.end()) return std::nullopt;
  return found->number;
}

}  // namespace report
