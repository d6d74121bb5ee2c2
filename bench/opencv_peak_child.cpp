// The OpenCV child of opencv_compare's process-peak table: a program of OpenCV alone that reads an
// image file and labels it once, so that its peak resident set is OpenCV's.
//
// Usage: opencv_peak_child FILE
// Reads FILE with cv::imread (IMREAD_GRAYSCALE) on one thread, thresholds it at 127 (binary: the
// foreground is 128 and up, as in bench_images) and runs connectedComponentsWithStats (8-connected,
// CV_32S) once; prints the number of components (labels - 1) on stdout. Exit status 0; 1 with a
// reason on stderr when FILE cannot be read; 2 for a wrong command line.
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: opencv_peak_child FILE\n");
    return 2;
  }
  try {
    cv::setNumThreads(1);
    const cv::Mat pels = cv::imread(argv[1], cv::IMREAD_GRAYSCALE);
    if (pels.empty()) {
      std::fprintf(stderr, "opencv_peak_child: %s: cannot be read as an image\n", argv[1]);
      return 1;
    }
    cv::Mat binary, labels, stats, centroids;
    cv::threshold(pels, binary, 127, 255, cv::THRESH_BINARY);
    const int labelCount = cv::connectedComponentsWithStats(binary, labels, stats, centroids, 8, CV_32S);
    std::printf("%d\n", labelCount - 1);
    return std::fflush(stdout) == 0 ? 0 : 1;
  } catch (const cv::Exception& error) {
    std::fprintf(stderr, "opencv_peak_child: %s: %s\n", argv[1], error.what());
    return 1;
  }
}
