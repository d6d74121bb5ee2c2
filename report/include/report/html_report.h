// blob-analyze's HTML report: one self-contained page (styles, script and pictures inline, nothing
// fetched) for every image of a run. Per image: the image with its blobs' outlines drawn over it
// as SVG, and a table of the blobs with the chosen measures that sorts by any column and filters by
// a range of one measure; pointing at a row highlights its outline and pointing at an outline
// highlights its row; a histogram of a chosen measure over the rows the filter keeps. The script
// builds each section's table when the section comes near the window.
#pragma once

#include <report/image_io.h>
#include <report/output_format.h>

#include <cstddef>
#include <iosfwd>
#include <string>
#include <vector>

class kcBlob;

namespace report {

// kHtmlMaxBlobs: the blobs an image's section lists and outlines at most: the first of its report's
// order (id order, or the view's). The section says how many were left out.
inline constexpr std::size_t kHtmlMaxBlobs = 20000;
// kHtmlMaxSide: a picture whose longer side exceeds this is embedded reduced by the smallest whole
// factor that brings it within, each embedded pel the mean of a square of image pels; the outlines
// stay exact, in image coordinates.
inline constexpr long kHtmlMaxSide = 2048;
// kHtmlPageRows: the table rows shown at once; further rows are on pages of their own.
inline constexpr std::size_t kHtmlPageRows = 500;

// htmlFigure(image, blobs): the picture of one image for the page: an <svg> element (viewBox in
// image pels) holding the image as an embedded PNG and one <path> per blob of blobs, drawn parents
// before children so that pointing inside a hole finds the hole. Each path carries data-id and
// class "blob" or "hole" (label 0). In a whole-image scene, which traces no boundaries, there are
// no paths. Library errors pass through.
std::string htmlFigure(const GreyImage& image, const std::vector<const kcBlob*>& blobs);

// HtmlReport: writes the page to out, image after image, holding nothing of earlier images.
class HtmlReport {
 public:
  // HtmlReport(out, measureNames): writes the page's head; the table's columns are id, parent,
  // label, numChildren and measureNames.
  HtmlReport(std::ostream& out, std::vector<std::string> measureNames);

  // image(report, figure): one image's section: its name and size, figure (htmlFigure's; empty
  // for none) and its first kHtmlMaxBlobs rows as data for the table; a failed image's section
  // shows its error.
  void image(const ImageReport& report, const std::string& figure);

  // finish(): writes the script and closes the page. Call once, after the images.
  void finish();

 private:
  std::ostream& out_;
  std::vector<std::string> names_;
  std::size_t images_ = 0;
};

}  // namespace report
