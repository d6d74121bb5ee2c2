// Loading arbitrary bytes as each archived class and asking the result everything: the body of
// the archive fuzzer and of the replay of its corpus.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace archive_exercise {

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
