// The shared worker threads: a queue of runs, each handing out its tasks in order.
#include "parallel/work_pool.h"

#include <foundation/attention.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// One run: its tasks, who works on it, and how it ended.
struct Run {
  const std::function<void(std::size_t)>* body;
  std::size_t tasks;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stopping{false};
  unsigned helpersWanted;  // workers that may still join
  unsigned helpersIn = 0;  // workers working on it now (guarded by the pool's mutex)
  std::exception_ptr error;  // the first exception (guarded by errorLock)
  std::mutex errorLock;

  void fail(std::exception_ptr e) {
    {
      const std::lock_guard<std::mutex> lock(errorLock);
      if (!error) error = std::move(e);
    }
    stopping.store(true, std::memory_order_relaxed);
  }

  // work(): takes tasks until none is left or the run stops.
  void work() {
    while (!stopping.load(std::memory_order_relaxed)) {
      const std::size_t t = next.fetch_add(1, std::memory_order_relaxed);
      if (t >= tasks) return;
      try {
        (*body)(t);
      } catch (const kc_WorkStopped&) {
        return;
      } catch (...) {
        fail(std::current_exception());
        return;
      }
    }
  }
};

// The run the thread works on (a worker's, or the one its caller is in); null outside any run.
thread_local Run* tCurrentRun = nullptr;
thread_local bool tIsCaller = false;

}  // namespace

struct kc_WorkPool::State {
  std::mutex lock;
  std::condition_variable wake;  // workers: a run was queued, or the pool ends
  std::condition_variable done;  // callers: a worker left a run
  std::deque<Run*> queue;        // runs that still want workers
  std::vector<std::thread> threads;
  bool ending = false;

  void workerLoop() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
      wake.wait(guard, [this] { return ending || !queue.empty(); });
      if (ending) return;
      Run* run = queue.front();
      if (--run->helpersWanted == 0) queue.pop_front();
      ++run->helpersIn;
      guard.unlock();
      tCurrentRun = run;
      run->work();
      tCurrentRun = nullptr;
      guard.lock();
      --run->helpersIn;
      done.notify_all();
    }
  }
};

kc_WorkPool::kc_WorkPool() : state_(new State) {}

kc_WorkPool::~kc_WorkPool() {
  {
    const std::lock_guard<std::mutex> guard(state_->lock);
    state_->ending = true;
  }
  state_->wake.notify_all();
  for (std::thread& t : state_->threads) t.join();
  delete state_;
}

kc_WorkPool& kc_WorkPool::shared() {
  static kc_WorkPool pool;
  return pool;
}

unsigned kc_WorkPool::workers() const {
  const std::lock_guard<std::mutex> guard(state_->lock);
  return static_cast<unsigned>(state_->threads.size());
}

void kc_WorkPool::run(std::size_t tasks, unsigned threads, const std::function<void(std::size_t)>& body) {
  if (tasks == 0) return;
  const unsigned helpers = static_cast<unsigned>(
      std::min<std::size_t>({tasks - 1, threads > 0 ? threads - 1 : 0, std::size_t{kMaxWorkers}}));
  if (helpers == 0 || tCurrentRun != nullptr) {  // serial, or a run inside a run
    for (std::size_t t = 0; t < tasks; ++t) body(t);
    return;
  }
  Run run;
  run.body = &body;
  run.tasks = tasks;
  run.helpersWanted = helpers;
  State& s = *state_;
  {
    std::unique_lock<std::mutex> guard(s.lock);
    while (s.threads.size() < helpers) {
      try {
        s.threads.emplace_back([&s] { s.workerLoop(); });
      } catch (...) {
        if (s.threads.empty()) {  // no worker at all: the caller works alone
          guard.unlock();
          for (std::size_t t = 0; t < tasks; ++t) body(t);
          return;
        }
        break;
      }
    }
    s.queue.push_back(&run);
  }
  s.wake.notify_all();

  // The caller works too, and checks its attention between its tasks and while it waits.
  tCurrentRun = &run;
  tIsCaller = true;
  try {
    while (!run.stopping.load(std::memory_order_relaxed)) {
      kcAttention::check();
      const std::size_t t = run.next.fetch_add(1, std::memory_order_relaxed);
      if (t >= tasks) break;
      body(t);
    }
  } catch (const kc_WorkStopped&) {
  } catch (...) {
    run.fail(std::current_exception());
  }
  tCurrentRun = nullptr;
  tIsCaller = false;
  std::unique_lock<std::mutex> guard(s.lock);
  // Workers that have not joined yet never will.
  const auto queued = std::find(s.queue.begin(), s.queue.end(), &run);
  if (queued != s.queue.end()) s.queue.erase(queued);
  while (run.helpersIn != 0) {
    if (!run.stopping.load(std::memory_order_relaxed)) {
      guard.unlock();
      try {
        kcAttention::check();
      } catch (...) {
        run.fail(std::current_exception());
      }
      guard.lock();
    }
    s.done.wait_for(guard, std::chrono::milliseconds(1));
  }
  guard.unlock();
  if (run.error) std::rethrow_exception(run.error);
}

void kf_CheckStop() {
  Run* const run = tCurrentRun;
  if (run == nullptr || tIsCaller) kcAttention::check();
  if (run != nullptr && run->stopping.load(std::memory_order_relaxed)) throw kc_WorkStopped();
}

namespace {
std::atomic<std::uint64_t> gMinBandPels{kMinBandPels};
std::atomic<long> gMinBandRows{kMinBandRows};
}  // namespace

kc_BandMinimum::kc_BandMinimum(std::uint64_t pels, long rows)
    : pels_(gMinBandPels.exchange(std::max<std::uint64_t>(pels, 1))), rows_(gMinBandRows.exchange(std::max(rows, 1L))) {}
kc_BandMinimum::~kc_BandMinimum() {
  gMinBandPels = pels_;
  gMinBandRows = rows_;
}

std::size_t kf_Bands(long width, long height, unsigned threads) {
  const long minRows = gMinBandRows.load(std::memory_order_relaxed);
  const long rows = height;
  if (threads <= 1 || rows < 2 * minRows || width < 1) return 1;
  const std::uint64_t pels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const std::uint64_t byPels = pels / gMinBandPels.load(std::memory_order_relaxed);
  const auto byRows = static_cast<std::uint64_t>(rows / minRows);
  return static_cast<std::size_t>(std::max<std::uint64_t>(1, std::min({std::uint64_t{threads}, byPels, byRows})));
}

std::size_t kf_Pieces(long width, long height, unsigned threads) {
  if (kf_Bands(width, height, threads) < 2) return 1;
  const std::uint64_t pieces = std::uint64_t{threads} * kPiecesPerThread;
  return kf_Bands(width, height, static_cast<unsigned>(std::min<std::uint64_t>(pieces, ~0u)));
}

long kf_LeastSplitRows(long width) {
  const std::uint64_t pels = gMinBandPels.load(std::memory_order_relaxed);
  const auto columns = static_cast<std::uint64_t>(std::max(width, 1L));
  const std::uint64_t byPels = std::min<std::uint64_t>((pels + columns - 1) / columns, std::uint64_t{1} << 30);
  return std::max(8 * gMinBandRows.load(std::memory_order_relaxed), static_cast<long>(byPels));
}

unsigned kf_CoreCount() { return std::max(1u, std::thread::hardware_concurrency()); }
