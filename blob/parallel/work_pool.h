// The worker threads an analysis given several threads shares its work with.
#pragma once

#include <foundation/exception.h>

#include <cstddef>
#include <cstdint>
#include <functional>

// kc_WorkPool: worker threads shared by every analysis in the process. Workers start on first
// demand (a run asking for n threads needs n - 1 of them: the calling thread works too), up to
// kMaxWorkers, and are kept, idle, until the process ends; no run starts a thread once the pool
// has enough. Several runs, from several threads, may share the pool at once: each run's caller
// works on its own tasks, so a run always progresses, even when every worker is busy elsewhere.
//
// run(tasks, threads, body): body(t) for every t in [0, tasks), each once, on the calling thread
// and up to threads - 1 workers; returns when every task has ended. Tasks are taken in order of t.
// While the caller has no task left to take, it waits for the others and calls kcAttention::check()
// at least once a millisecond, so its cancellation scopes hold. The first exception (from a task,
// or from the caller's check) stops the run: no task starts after it, kf_CheckStop() throws in
// the tasks still running, and once all have ended it is rethrown on the calling thread (the others
// are dropped). Nothing of the run goes on after run() returns or throws.
// Allocation: one small record per run; none per task.
class kc_WorkPool {
 public:
  static constexpr unsigned kMaxWorkers = 255;

  // shared(): the process's pool.
  static kc_WorkPool& shared();

  void run(std::size_t tasks, unsigned threads, const std::function<void(std::size_t)>& body);

  // workers(): the workers started so far. For tests.
  unsigned workers() const;

  kc_WorkPool(const kc_WorkPool&) = delete;
  kc_WorkPool& operator=(const kc_WorkPool&) = delete;

 private:
  struct State;
  kc_WorkPool();
  ~kc_WorkPool();
  State* state_;
};

// kf_CheckStop(): the cancellation point of work that may run in a pool's task: on the thread that
// called run() (or outside any run), kcAttention::check(); in any task, kc_WorkStopped when the run
// is stopping. Call it where kcAttention::check() would be called.
void kf_CheckStop();

// kc_WorkStopped: what kf_CheckStop() throws in a task of a run that is stopping; never reaches the
// caller of run(), which rethrows the exception that stopped the run.
class kc_WorkStopped : public std::exception {
 public:
  const char* what() const noexcept override { return "the run is stopping"; }
};

// kf_CoreCount(): the number of cores (std::thread::hardware_concurrency, at least 1).
unsigned kf_CoreCount();

// kf_Bands(width, height, threads): the bands of rows an image of width x height pels is split
// into for threads threads: 1 when threads is 1 or a band would hold fewer than kMinBandPels pels
// or kMinBandRows rows (too little work to gain from a thread), else up to threads. Tests lower
// the two minimums with kc_BandMinimum to split small images.
// kf_BandTop(rows, bands, b): the first row of band b of bands (rows for b == bands); bands
// differ in height by one row at most.
inline constexpr std::uint64_t kMinBandPels = std::uint64_t{1} << 18;
inline constexpr long kMinBandRows = 16;
std::size_t kf_Bands(long width, long height, unsigned threads);
// kf_Pieces(width, height, threads): the pieces of rows to cut work into that each thread does in
// one pass over its rows (encoding, masking, morphology) when the threads take the pieces in turn:
// as kf_Bands, but up to kPiecesPerThread per thread when there are bands at all, so that a thread
// whose rows cost more (content spread unevenly) leaves the rest to the others.
inline constexpr unsigned kPiecesPerThread = 4;
std::size_t kf_Pieces(long width, long height, unsigned threads);
// kf_LeastSplitRows(width): the fewest rows a thread out of work takes from a band still being
// scanned (kc_BandRows::split), in an image width pels wide: 8 times the band minimum's rows (128),
// or the rows that hold the band minimum's pels if more (kc_BandMinimum lowers both). A band taken
// so pays a pass over the rows above it before it starts, tens of rows' work on dense noise.
long kf_LeastSplitRows(long width);

// kc_BandMinimum: while one lives, bands need only pels pels and rows rows (at least 1 each). For
// tests; not for use while analyses run on other threads.
class kc_BandMinimum {
 public:
  kc_BandMinimum(std::uint64_t pels, long rows);
  ~kc_BandMinimum();
  kc_BandMinimum(const kc_BandMinimum&) = delete;
  kc_BandMinimum& operator=(const kc_BandMinimum&) = delete;

 private:
  std::uint64_t pels_;
  long rows_;
};
inline long kf_BandTop(long rows, std::size_t bands, std::size_t b) {
  return static_cast<long>(static_cast<std::uint64_t>(rows) * b / bands);
}
