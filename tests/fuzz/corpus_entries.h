// The fuzzer's seed corpus: valid archives of every archived class and of every version read.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace archive_corpus {

// entries(): each seed as (file name, bytes). A name starts with the kind it loads as
// (archive_exercise::kindName) and a dash.
std::vector<std::pair<std::string, std::vector<unsigned char>>> entries();

}  // namespace archive_corpus
