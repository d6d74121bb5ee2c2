// Loading arbitrary bytes as each archived class and asking the result everything: the body of
// the archive fuzzer and of the replay of its corpus.
#pragma once

#include <blob/blob.h>
#include <blob/blobdesc.h>
#include <foundation/exception.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace archive_exercise {

// Answers: what was asked of a scene or a blob, value by value as comparable bits, a failure as
// its error number.
class Answers {
 public:
  void add(double v) { bits_.push_back(std::bit_cast<std::uint64_t>(v)); }
  void add(long v) { bits_.push_back(static_cast<std::uint64_t>(v)); }
  void add(const kcVector<2>& v) { add(v.x()), add(v.y()); }
  template <class T>
  void add(const kcRectangle<T>& r) { add(r.ul().x()), add(r.ul().y()), add(r.width()), add(r.height()); }
  void add(const kcBlob* b) { add(b ? b->id() : 0L); }
  void add(const std::vector<long>& values) { bits_.insert(bits_.end(), values.begin(), values.end()); }
  void failed(const kcException& e) { bits_.push_back(0xE000000000000000ull | static_cast<std::uint64_t>(e.errorNumber())); }
  bool operator==(const Answers&) const = default;
  const std::vector<std::uint64_t>& bits() const { return bits_; }

 private:
  std::vector<std::uint64_t> bits_;
};

// ask(scene or blob, answers): asks everything of it (settings, measures at several angles, chain,
// links both ways, views, image, drawing, the invariant check) into answers. The library's errors
// are answers; an internal assertion (kcInvariantFailure) propagates. Images over 2^22 pels are
// not made: their cost is the caller's choice, not the archive's.
void ask(const kcBlob& b, Answers& answers);
void ask(const kcBlobSceneDescription& s, Answers& answers);

// Kind: the classes the bytes are loaded as.
enum class Kind { eScene, eBlob, eParams, eResults, ePelImage, eRunImage, eTransform };
inline constexpr Kind kKinds[] = {Kind::eScene,    Kind::eBlob,     Kind::eRunImage, Kind::ePelImage,
                                  Kind::eTransform, Kind::eParams, Kind::eResults};

// kindName(k): the name corpus files start with ("scene", "blob", "params", "results", "pel",
// "rle", "xform").
const char* kindName(Kind k);

// loadAndQuery(k, data, size): loads the bytes as k; when that succeeds, queries every measure,
// view, image and drawing of what loaded, stores it again and loads the stored bytes back (which
// must succeed). Returns whether the bytes loaded. The library's and the archive's errors are
// expected; an internal assertion (kcInvariantFailure) or anything else propagates, and a stored
// form that does not load again aborts.
bool loadAndQuery(Kind k, const unsigned char* data, std::size_t size);

// loadAndQueryAll(data, size): loadAndQuery for every kind.
void loadAndQueryAll(const unsigned char* data, std::size_t size);

// storedAgain(k, bytes): bytes loaded as k and stored again, in the current forms. Throws what
// loading or storing throws.
std::vector<unsigned char> storedAgain(Kind k, const std::vector<unsigned char>& bytes);

// currentForm(name, k): whether the corpus file named name holds only current forms, and of
// which kind: "scene-v3-", "blob-v1-" (without "-record-v" older than 3), "params-v1-", and every
// seed of the other kinds.
bool currentForm(const std::string& name, Kind& k);

}  // namespace archive_exercise
