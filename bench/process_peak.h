// Process-peak comparison of opencv_compare: the peak resident set of our command-line tool and of
// an OpenCV program, each a fresh process analysing the same image file once.
#pragma once

#include "bench_images.h"

namespace bench {

// The image of the process-peak comparison.
inline constexpr ImageSpec kPeakImage{ImageClass::eNoise50, 8192};

// Seconds a child of runProcessPeak may run before it is killed.
inline constexpr double kPeakChildLimit = 600.0;

// runProcessPeak(): writes kPeakImage (noise50-8192) once as a binary PGM into a new temporary
// folder and prints a Markdown table, with a note, of the peak resident set (ru_maxrss from wait4,
// in MiB) of two fresh child processes on it, started with fork and exec:
//   ours    blob-analyze --format csv --measures area FILE, its CSV read through a pipe and counted;
//   OpenCV  opencv_peak_child FILE: imread, threshold and connectedComponentsWithStats once.
// A child that runs past kPeakChildLimit is killed; one that fails or is killed shows "—" and has
// its reason written to stderr. Returns 0 when both finished and found the same number of blobs,
// else 1 (with a reason on stderr). The temporary folder is removed on every way out, an exception
// or SIGINT/SIGTERM included. Cost: the two children, well under a minute on a current PC.
int runProcessPeak();

}  // namespace bench
