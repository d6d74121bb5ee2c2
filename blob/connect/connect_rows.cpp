// The rows of the blobs' regions: written from a run that recorded every run's label, exactly
// sized in a counting pass; and the maker a scene keeps to have them written when first needed.
#include "connect/connect_engine.h"
#include "connect/connect_rows.h"

#include <foundation/assert.h>
#include <foundation/rlebuffer.h>

#include <atomic>
#include <limits>

namespace {

// runsOf(length): the two-byte runs a span of that length takes (at most 255 pels each).
inline std::uint64_t runsOf(std::uint64_t length) { return (length + 254) / 255; }

// CountBytes: a sink that adds up the bytes each blob's rows take (in kc_BlobBuild::write).
struct CountBytes {
  void put(kc_BlobBuild& b, unsigned char, std::uint64_t length) { b.write += 2 * runsOf(length); }
  void end(kc_BlobBuild& b) { b.write += 2; }
};

// WriteBytes: a sink that writes them, each blob from its offset on.
struct WriteBytes {
  unsigned char* bytes;
  void put(kc_BlobBuild& b, unsigned char value, std::uint64_t length) {
    unsigned char* out = bytes + b.write;
    for (; length > 255; length -= 255, out += 2) {
      out[0] = value;
      out[1] = 255;
    }
    if (length != 0) {
      out[0] = value;
      out[1] = static_cast<unsigned char>(length);
      out += 2;
    }
    b.write = static_cast<std::uint64_t>(out - bytes);
  }
  void end(kc_BlobBuild& b) {
    bytes[b.write] = 0;
    bytes[b.write + 1] = 0;
    b.write += 2;
  }
};

}  // namespace

// walkRows(sink): the runs of every row with the blobs their labels give them; each blob's rows
// are its spans in order, gaps and the rest of its width as background runs, a terminator after
// each row. In a grey-scale fill, filled runs following a run are absorbed into its span and take
// its value, as does a run of that value right after a filled one.
template <class Sink>
void kc_ConnectEngine::walkRows(Sink& sink) {
  std::vector<kc_BlobBuild>& builds = ws_.builds;
  const auto blobOf = [this](LabelId label) -> BlobId {
    const std::uint32_t where = ws_.up[rootOf(label)] & ~kRootFlag;
    return where == kGone ? 0 : ws_.rowIds[where];
  };
  const auto finishRow = [&sink](kc_BlobBuild& b) {
    KC_ASSERT(b.cursor != 0 && b.cursor <= b.width, "a blob row receives a pel and stays inside the width");
    sink.put(b, 0, static_cast<std::uint64_t>(b.width - b.cursor));
    sink.end(b);
  };
  const std::vector<LabelId>& labels = *runLabels_;
  std::size_t k = 0;
  for (RowIndex y = 0; y < height_; ++y) {
    if (attend_ && y % 16 == 15) attentionCheck();
    const std::size_t n = readRow(y, ws_.rowA);
    const kc_ScanRun* row = ws_.rowA.data();
    KC_ASSERT(k + n <= labels.size(), "every run of the rows had its label recorded");
    for (std::size_t i = 0; i < n;) {
      const kc_ScanRun& run = row[i];
      const BlobId id = blobOf(labels[k + i]);
      KC_ASSERT(!fillChains_ || ws_.filled[labels[k + i]] == 0 || id == 0,
                "a filled run is absorbed by the run left of it");
      ++i;
      if (id == 0) continue;
      kc_BlobBuild& b = builds[id - 1];
      const Column relX = run.x - b.xMin;
      const RowIndex relY = y - b.yMin;
      KC_ASSERT(relX >= 0 && relY >= 0, "a run lies inside its region's extents");
      if (relY != b.row) {
        KC_ASSERT(relY == b.row + 1, "the rows of a region are consecutive");
        finishRow(b);
        b.cursor = 0;
        b.row = relY;
      }
      auto span = static_cast<std::uint64_t>(run.xe - run.x);
      while (fillChains_ && i < n && ws_.filled[labels[k + i]] != 0) {
        KC_ASSERT(blobOf(labels[k + i]) == id, "a filled run belongs to the region left of it");
        span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
        ++i;
        if (i < n && row[i].value == run.value) {
          KC_ASSERT(blobOf(labels[k + i]) == id, "a run after a filled one belongs to its region");
          span += static_cast<std::uint64_t>(row[i].xe - row[i].x);
          ++i;
        }
      }
      KC_ASSERT(relX >= b.cursor && static_cast<std::uint64_t>(relX) + span <= static_cast<std::uint64_t>(b.width),
                "the spans of a blob row come left to right inside its width");
      const unsigned char v = labelled_ ? 1 : (run.value != 0 ? run.value : 1);
      sink.put(b, 0, static_cast<std::uint64_t>(relX - b.cursor));
      sink.put(b, v, span);
      b.cursor = relX + static_cast<Column>(span);
    }
    k += n;
  }
  for (std::size_t i = 0; i < builds.size(); ++i) {
    KC_ASSERT(builds[i].row == out_.entry(static_cast<BlobId>(i + 1)).height - 1, "a blob's last row is its height");
    finishRow(builds[i]);
  }
}

void kc_ConnectEngine::writeRows() {
  KC_ASSERT(finished_ && runLabels_ != nullptr, "rows are written after the finish of a run that recorded labels");
  std::vector<kc_BlobBuild>& builds = ws_.builds;
  const std::size_t count = out_.size();
  builds.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const kc_BlobEntry& e = out_.entry(static_cast<BlobId>(i + 1));
    builds[i] = kc_BlobBuild{0, e.left, e.top, e.width, 0, 0};
  }
  CountBytes counting;
  walkRows(counting);
  std::vector<std::uint64_t>& offsets = out_.rowOffsets;
  offsets.resize(count);
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < count; ++i) {
    offsets[i] = total;
    total += builds[i].write;
    const kc_BlobEntry& e = out_.entry(static_cast<BlobId>(i + 1));
    builds[i] = kc_BlobBuild{offsets[i], e.left, e.top, e.width, 0, 0};
  }
  KC_ASSERT(total <= std::numeric_limits<std::size_t>::max(), "the run store fits the address space");
  WriteBytes writing{out_.reserveRuns(static_cast<std::size_t>(total))};
  walkRows(writing);
  for (std::size_t i = 0; i + 1 < count; ++i)
    KC_ASSERT(builds[i].write == offsets[i + 1], "a blob's rows fill the bytes counted for them");
}

// ---- the maker a scene keeps ----

namespace {

class EngineRowMaker : public kc_RowMaker {
 public:
  EngineRowMaker(const kcRLEBuffer& image, const kc_EngineSettings& settings, const kc_WorkspaceNeeds& needs) {
    set(image, settings, needs);
  }

  void set(const kcRLEBuffer& image, const kc_EngineSettings& settings, const kc_WorkspaceNeeds& needs) {
    image_ = image;
    settings_ = settings;
    needs_ = needs;
  }

  void make(kc_BlobStore& store) const override {
    kc_ConnectWorkspace workspace;
    kc_BlobStore made;
    std::vector<LabelId> labels;
    std::vector<BlobId> topIds;
    kc_ConnectEngine engine(image_, workspace, made, settings_.labelled, settings_.cleanup, settings_.minPels);
    engine.recordLabels(labels);
    engine.scan();
    engine.finish(topIds);
    engine.writeRows();
    KC_ASSERT(made.size() == store.size(), "the analysis gives the same blobs again");
    store.runs.swap(made.runs);
    store.rowOffsets.swap(made.rowOffsets);
  }

  const kcRLEBuffer& image() const { return image_; }
  const kc_EngineSettings& settings() const { return settings_; }
  const kc_WorkspaceNeeds& needs() const { return needs_; }

 private:
  kcRLEBuffer image_;
  kc_EngineSettings settings_;
  kc_WorkspaceNeeds needs_;
};

// engineMaker(maker): maker as the engine's, or null when it is another kind or none.
const EngineRowMaker* engineMaker(const kc_RowMaker* maker) { return dynamic_cast<const EngineRowMaker*>(maker); }

}  // namespace

std::shared_ptr<const kc_RowMaker> kf_EngineRowMaker(std::shared_ptr<kc_RowMaker> (&makers)[2],
                                                     const kcRLEBuffer& image, const kc_EngineSettings& settings,
                                                     const kc_WorkspaceNeeds& needs) {
  for (std::shared_ptr<kc_RowMaker>& m : makers) {
    if (m == nullptr) {
      m = std::make_shared<EngineRowMaker>(image, settings, needs);
      return m;
    }
    if (m.use_count() == 1) {
      std::atomic_thread_fence(std::memory_order_acquire);  // the last holder let go on another thread
      static_cast<EngineRowMaker&>(*m).set(image, settings, needs);  // only these live here
      return m;
    }
  }
  return std::make_shared<EngineRowMaker>(image, settings, needs);
}

void kf_IdleRowMakers(std::shared_ptr<kc_RowMaker> (&makers)[2]) {
  for (std::shared_ptr<kc_RowMaker>& m : makers) {
    if (m == nullptr || m.use_count() != 1) continue;
    std::atomic_thread_fence(std::memory_order_acquire);
    static_cast<EngineRowMaker&>(*m).set(kcRLEBuffer(), kc_EngineSettings{}, kc_WorkspaceNeeds{});
  }
}

void kf_RecordNeeds(const kc_RowMaker& maker, const kc_WorkspaceNeeds& needs) {
  // The engine's makers are this file's own; the needs are plain data read only by restoring.
  EngineRowMaker& m = const_cast<EngineRowMaker&>(*engineMaker(&maker));
  m.set(m.image(), m.settings(), needs);
}

bool kf_CanRestore(const kc_RowMaker* maker) {
  const EngineRowMaker* m = engineMaker(maker);
  return m != nullptr && m->needs().oneThread &&
         !(m->settings().labelled && m->settings().cleanup == kc_CleanupKind::eFill);
}

void kf_ReserveForRestore(const kc_RowMaker& maker, kc_ConnectWorkspace& ws) {
  kf_ReserveWorkspace(ws, engineMaker(&maker)->needs());
}

void kf_RestoreBlobs(const kc_RowMaker& maker, kc_ConnectWorkspace& ws, kc_BlobStore& store,
                     std::vector<BlobId>& topIds) noexcept {
  const EngineRowMaker& m = *engineMaker(&maker);
#ifndef NDEBUG
  const kc_WorkspaceNeeds before = kf_WorkspaceNeeds(ws);
  const std::size_t entries = store.entries.capacity(), top = topIds.capacity();
#endif
  const kc_EngineSettings& s = m.settings();
  kc_ConnectEngine engine(m.image(), ws, store, s.labelled, s.cleanup, s.minPels);
  engine.restoring();
  engine.scan();
  engine.finish(topIds);
#ifndef NDEBUG
  const kc_WorkspaceNeeds after = kf_WorkspaceNeeds(ws);
  KC_ASSERT(after.up == before.up && after.regions == before.regions && after.bits == before.bits &&
                after.nodes == before.nodes && after.indexSlots == before.indexSlots &&
                store.entries.capacity() == entries &&
                topIds.capacity() == top,
            "restoring a scene's blobs allocates nothing");
#endif
}
