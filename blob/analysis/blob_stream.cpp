// The streaming analysis: rows encoded as they come and scanned by the connectivity engine, each
// tree it completes made a scene of its own. Whole-image and labelled connectivity keep their rows
// and analyse them at the end; a labelled image's trees are cut from its scene.
#include <blob/blobstream.h>

#include "analysis/params_check.h"
#include "base/messages.h"
#include "connect/connect_engine.h"
#include "connect/connect_rows.h"
#include "connect/connect_settings.h"
#include "scene/scene_builder.h"
#include "scene/scene_tree.h"
#include "store/bsd_data.h"

#include <foundation/assert.h>
#include <foundation/attention.h>
#include <foundation/rlebuffer.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace {

using Msg = kc_BlobMessages;
using StreamRow = std::int64_t;  // rows of a stream, which may pass 2^31
constexpr std::size_t kPieceRows = std::size_t{1} << 20;

[[noreturn]] void refuse(Msg::Tool message) { throw kcBlobDefs::BadParams(Msg::kTool[message]); }

// A run of one value in a row.
struct ValueRun {
  Column x;
  Column xe;
  unsigned char value;
};

// StreamState: the stream's state. Grey-scale connectivity runs the connectivity engine over the rows
// as they come (kc_ConnectEngine's streams), which lists each tree as it completes; whole-image and
// labelled connectivity keep their rows for the analysis at the end. A class of this file alone, so
// that nothing of it is exported with kcBlobStream.
struct StreamState {
  kcBlobParams params;
  Column width = 0;
  StreamRow rows = 0;        // rows fed
  bool whole = false;       // whole-image connectivity: rows kept, one tree at the end
  bool labelled = false;    // labelled connectivity: every row kept, every tree at the end
  bool finished = false;
  bool broken = false;
  long numbered = 0;        // trees handed a number
  std::vector<ValueRun> values;  // the row being kept
  // Whole-image and labelled connectivity: the runs of the rows kept, row firstKept + i from
  // keptRuns[keptRows[i]].
  std::vector<ValueRun> keptRuns;
  std::vector<std::size_t> keptRows;
  StreamRow firstKept = 0;
  // Grey-scale connectivity: the engine, its workspace and the entries it retires.
  kc_ConnectWorkspace workspace;
  kc_BlobStore retired;
  std::unique_ptr<kc_ConnectEngine> engine;
  kc_StreamScratch scratch;
  std::vector<const unsigned char*> bandRows;
  // Complete trees: their scenes, in the order they completed, with their numbers.
  std::deque<std::pair<long, std::unique_ptr<kcBlobSceneDescription>>> done;
  kcBlobResults results;         // the analysis at the end (whole-image connectivity), reused
  kcRLEStorage bandStorage;      // the encoded band's runs, reused from band to band
  // Scratch of making an image of the rows kept: the run bytes and where each row starts.
  std::vector<unsigned char> cutBytes;
  std::vector<std::size_t> cutStarts;
  std::vector<const unsigned char*> starts;

  void takeCompleted();
  void completeWhole();
  void completeLabelled();
  void keepRow();
  template <class Row>
  kcRLEBuffer runImage(StreamRow top, StreamRow bottom, Column left, Column right, const Row& row);
  template <class Row>
  void analyse(StreamRow top, StreamRow bottom, Column left, Column right, const Row& row);
  bool keepsRows() const { return whole || labelled; }
  long rowsHeld() const;
};

// takeCompleted(): each tree the engine completed becomes a scene of its own, numbered in turn:
// its entries and rows, the analysis settings of an analysis of the whole image, the identity
// transform, and as its window the tree's box widened by a pel where the image goes on.
void StreamState::takeCompleted() {
  std::vector<RetiredIndex>& completed = engine->completed();
  kc_BlobStore tree;
  for (const RetiredIndex top : completed) {
    if (!engine->takeTree(top, tree, scratch)) continue;
    const kcPelRect box = tree.imageRect(tree.entries[0]);
    const long x0 = std::max(0L, box.ul().x() - 1), y0 = std::max(0L, box.ul().y() - 1);
    const long x1 = std::min<long>(width, box.lr().x() + 1), y1 = std::min<long>(rows, box.lr().y() + 1);
    auto scene = std::make_unique<kcBlobSceneDescription>();
    kc_BSDData& d = kc_SceneBuilder::data(*scene);
    std::vector<BlobId> topIds{1};
    d.mutating();
    d.install(tree, topIds);
    d.connectivityKind = kcBlobSceneDescription::eGreyScale;
    d.scaleVal = params.scaleVal();
    d.cleanupKind = params.connectivityCleanup();
    if (d.cleanupKind != kcBlobSceneDescription::eNone) d.minPels = static_cast<std::int32_t>(params.connectivityMinPels());
    d.sceneWindow = kcPelRect(x0, y0, x1 - x0, y1 - y0);
    d.dropObjectsIfShort();
    kc_SceneBuilder::finishAnalysis(*scene);
    done.emplace_back(++numbered, std::move(scene));
  }
  completed.clear();
  engine->compactIfSparse();
}

// runImage(top, bottom, left, right, row): the run image of rows top .. bottom and columns left ..
// right - 1, at that position (so every coordinate is the whole image's), each row's runs given by
// row(y, put), which calls put(value, length) from the left, never twice in a row with one value.
template <class Row>
kcRLEBuffer StreamState::runImage(StreamRow top, StreamRow bottom, Column left, Column right, const Row& row) {
  cutBytes.clear();
  cutStarts.clear();
  const auto put = [this](unsigned char value, Column length) {
    kf_PutSpan(cutBytes, value, static_cast<std::uint64_t>(length));
  };
  for (StreamRow y = top; y <= bottom; ++y) {
    cutStarts.push_back(cutBytes.size());
    row(y, put);
    cutBytes.push_back(0);
    cutBytes.push_back(0);
  }
  std::vector<unsigned char> bytes(cutBytes.begin(), cutBytes.end());  // exactly sized: the scene keeps it
  starts.clear();
  for (std::size_t at : cutStarts) starts.push_back(bytes.data() + at);
  kcRLEBuffer runs;
  runs.becomeOwner(right - left, starts, bytes);
  runs.offset(kcPair<long>(left, static_cast<long>(top)));
  return runs;
}

// analyse(top, bottom, left, right, row): runImage(...) analysed, and its scene kept when the
// analysis left any blob.
template <class Row>
void StreamState::analyse(StreamRow top, StreamRow bottom, Column left, Column right, const Row& row) {
  const kcRLEBuffer runs = runImage(top, bottom, left, right, row);
  // Analysed into the same results each time (their engine's arrays reused, nothing grown tree by
  // tree); the tree handed out is a copy of the scene, which shares its runs and holds no engine.
  kfBlobAnalysis<kcRLEBuffer>(runs, params, results);
  const kcBlobSceneDescription& scene = *results.connectedBlobs();
  if (scene.numBlobs(false) == 0) return;
  auto tree = std::make_unique<kcBlobSceneDescription>(scene);
  kc_SceneBuilder::data(*tree).augmentedCache.reset();  // the engine's arrays stay with the results
  done.emplace_back(++numbered, std::move(tree));
}

// completeWhole(): whole-image connectivity at the end: the rows kept (from the row above the first
// with a pel that is not 0, so that the interior test sees the same edges) analysed as one image,
// whose one blob is the tree.
void StreamState::completeWhole() {
  if (keptRows.empty()) return;
  keptRows.push_back(keptRuns.size());
  analyse(firstKept, rows - 1, 0, width, [&](StreamRow y, const auto& put) {
    const auto i = static_cast<std::size_t>(y - firstKept);
    for (std::size_t k = keptRows[i]; k < keptRows[i + 1]; ++k) put(keptRuns[k].value, keptRuns[k].xe - keptRuns[k].x);
  });
  keptRuns.clear();
  keptRows.clear();
}

// keepRow(): the row just encoded (values) kept for the analysis at the end. Whole-image
// connectivity keeps, of the rows of 0s before its first pel, only the last: the scene's top edge.
void StreamState::keepRow() {
  if (whole && values.size() == 1 && values[0].value == 0 && keptRuns.size() == 1 && keptRuns[0].value == 0) {
    keptRuns.clear();
    keptRows.clear();
  }
  if (keptRows.empty()) firstKept = rows - 1;
  keptRows.push_back(keptRuns.size());
  keptRuns.insert(keptRuns.end(), values.begin(), values.end());
}

// completeLabelled(): labelled connectivity at the end: the rows kept analysed as one image, then
// each top-level blob's tree, in the order of their ids, cut from that scene (kf_TreeScene). A
// labelled tree cannot be analysed apart: every pel around it would be some region of its own.
void StreamState::completeLabelled() {
  if (keptRows.empty()) return;
  keptRows.push_back(keptRuns.size());
  const kcRLEBuffer image = runImage(0, rows - 1, 0, width, [&](StreamRow y, const auto& put) {
    const auto i = static_cast<std::size_t>(y);
    for (std::size_t k = keptRows[i]; k < keptRows[i + 1]; ++k) put(keptRuns[k].value, keptRuns[k].xe - keptRuns[k].x);
  });
  std::vector<ValueRun>().swap(keptRuns);
  std::vector<std::size_t>().swap(keptRows);
  kcBlobResults analysed;
  kfBlobAnalysis<kcRLEBuffer>(image, params, analysed);
  kcBlobSceneDescription& scene = *analysed.connectedBlobs();
  const kc_BSDData& d = kc_SceneBuilder::data(scene);
  std::vector<BlobId> tops(d.topIds);
  std::sort(tops.begin(), tops.end());
  kc_TreeScratch treeScratch;
  for (const BlobId top : tops) {  // the window: the tree's box widened by a pel where the image goes on
    const kcPelRect box = d.store.imageRect(d.store.entry(top));
    const long x0 = std::max(0L, box.ul().x() - 1), y0 = std::max(0L, box.ul().y() - 1);
    const long x1 = std::min<long>(width, box.lr().x() + 1), y1 = std::min<long>(rows, box.lr().y() + 1);
    done.emplace_back(++numbered, kf_TreeScene(scene, top, kcPelRect(x0, y0, x1 - x0, y1 - y0), treeScratch));
  }
}

// rowsHeld(): the rows from the first of the oldest open or waiting blob to the last row fed
// (whole-image and labelled connectivity: the rows kept).
long StreamState::rowsHeld() const {
  if (keepsRows()) return static_cast<long>(keptRows.size());
  return static_cast<long>(rows - engine->heldFrom());
}

}  // namespace

struct kcBlobStream::State : StreamState {};

kcBlobStream::kcBlobStream(const kcBlobParams& params, long width) : state_(std::make_unique<State>()) {
  kf_CheckSegmentation(params);
  kf_CheckConnectSettings(params.connectivityType(), params.scaleVal(), params.connectivityCleanup(),
                          params.connectivityMinPels());
  const auto kind = params.segmentationType();
  if (kind == kcBlobParams::eThreshImage ||
      ((kind == kcBlobParams::eHardThresh || kind == kcBlobParams::eSoftThresh) && params.isThreshPercent()))
    refuse(Msg::eStreamSegmentation);
  if (!params.mask().isDegenerate() || !params.morph().empty()) refuse(Msg::eStreamMaskOrMorph);
  if (width < 1 || width > std::numeric_limits<Column>::max()) refuse(Msg::eStreamWidth);
  state_->params = params;
  state_->width = static_cast<Column>(width);
  state_->whole = params.connectivityType() == kcBlobSceneDescription::eWholeImageGreyScale;
  state_->labelled = params.connectivityType() == kcBlobSceneDescription::eLabelled;
  if (!state_->keepsRows()) {
    const auto cleanup = static_cast<kc_CleanupKind>(params.connectivityCleanup());
    state_->engine = std::make_unique<kc_ConnectEngine>(
        kc_ConnectEngine::StreamTag{}, static_cast<Column>(width), state_->workspace, state_->retired, cleanup,
        cleanup == kc_CleanupKind::eNone ? 0 : static_cast<PelCount>(params.connectivityMinPels()));
  }
}

kcBlobStream::~kcBlobStream() = default;
kcBlobStream::kcBlobStream(kcBlobStream&&) noexcept = default;
kcBlobStream& kcBlobStream::operator=(kcBlobStream&&) noexcept = default;

void kcBlobStream::feed(const kcPelBuffer_const<unsigned char>& rows) {
  State& s = *state_;
  if (s.finished || s.broken) refuse(Msg::eStreamEnded);
  if (!rows.isBound() || rows.width() != s.width) refuse(Msg::eStreamRowWidth);
  if (rows.height() == 0) return;
  s.broken = true;  // until the rows are in
  kcRLEBuffer encoded;
  encoded.storage(s.bandStorage);
  switch (s.params.segmentationType()) {
    case kcBlobParams::eMap: encoded.encode(rows, s.params.map()); break;
    case kcBlobParams::eHardThresh: encoded.encode(rows, s.params.thresh(), s.params.invert()); break;
    case kcBlobParams::eSoftThresh:
      encoded.encode(rows, s.params.thresh(), s.params.hiThresh(), s.params.softness(), s.params.invert());
      break;
    default: encoded.encode(rows); break;
  }
  if (!s.keepsRows()) {
    s.bandRows.resize(static_cast<std::size_t>(encoded.height()));
    for (long r = 0; r < encoded.height(); ++r) s.bandRows[static_cast<std::size_t>(r)] = encoded.pointToRow(r);
    // In pieces of at most kPieceRows, each followed by taking the trees and perhaps compacting, so
    // that the engine's rows stay within 31 bits however tall the band.
    for (std::size_t first = 0; first < s.bandRows.size(); first += kPieceRows) {
      const std::size_t count = std::min(kPieceRows, s.bandRows.size() - first);
      s.engine->streamRows(s.bandRows.data() + first, count, encoded.isBinary());
      s.rows += static_cast<StreamRow>(count);
      s.takeCompleted();
    }
    s.broken = false;
    return;
  }
  for (long r = 0; r < encoded.height(); ++r) {
    if (r % 16 == 15) kcAttention::check();
    std::vector<ValueRun>& values = s.values;
    values.clear();
    Column x = 0;
    for (const unsigned char* src = encoded.pointToRow(r); src[1] != 0; src += 2) {
      if (!values.empty() && values.back().value == src[0]) values.back().xe += src[1];
      else values.push_back(ValueRun{x, x + src[1], src[0]});
      x += src[1];
    }
    ++s.rows;
    s.keepRow();
  }
  s.broken = false;
}

void kcBlobStream::finish() {
  State& s = *state_;
  if (s.finished) return;
  if (s.broken) refuse(Msg::eStreamEnded);
  s.broken = true;
  if (s.whole) {
    s.completeWhole();
  } else if (s.labelled) {
    s.completeLabelled();
  } else {
    s.engine->endStream();
    s.takeCompleted();
  }
  s.broken = false;
  s.finished = true;
}

std::size_t kcBlobStream::ready() const { return state_->done.size(); }

std::unique_ptr<kcBlobSceneDescription> kcBlobStream::take(long* number) {
  if (number != nullptr) *number = 0;
  if (state_->done.empty()) return nullptr;
  auto [n, scene] = std::move(state_->done.front());
  state_->done.pop_front();
  if (number != nullptr) *number = n;
  return std::move(scene);
}

long kcBlobStream::rowsFed() const { return static_cast<long>(state_->rows); }
long kcBlobStream::rowsHeld() const { return state_->rowsHeld(); }
