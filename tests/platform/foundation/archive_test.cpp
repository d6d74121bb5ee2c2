// Archive encoding, object references, the registry and hostile-input robustness.
#include <foundation/archive.h>
#include <foundation/assert.h>

#include "archive_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <sstream>

namespace {

using archive_bytes::stored;
using archive_bytes::storedValue;

// A persistent test class: a value, text, bytes, an owned child and a non-owning peer.
class Node : public kcPersistent {
 public:
  int value = 0;
  std::wstring name;
  std::vector<unsigned char> bytes;
  Node* child = nullptr;  // owned
  Node* peer = nullptr;   // not owned
  ~Node() override { delete child; }

 protected:
  void dispatchSerialize(kcArchive& ar) override {
    if (haveVisited(ar, this, sizeof(Node))) return;
    unsigned char version = 1;
    ar || version;
    if (version != 1) throw kcArchive::UnknownVersion("test/node", 42);
    kcPersistent::dispatchSerialize(ar);
    ar || value || name || bytes;
    archivePointer(ar, child, true);
    archivePointer(ar, peer, false);
    setVisited(ar, this, sizeof(Node));
  }

 private:
  static void archivePointer(kcArchive& ar, Node*& target, bool owning) {
    kcPersistent* loaded = nullptr;
    serializePointer(ar, target, loaded, owning);
    if (ar.isLoading()) {
      if (owning) delete target;
      target = dynamic_cast<Node*>(loaded);
      if (!target && loaded && owning) delete loaded;
    }
  }
  static kcPersistent* make() { return new Node(); }
  static kc_Instantiator sExemplar;
};
kc_Instantiator Node::sExemplar("test::Node", typeid(Node), &Node::make);

std::unique_ptr<Node> makeGraph() {
  auto root = std::make_unique<Node>();
  root->value = -7;
  root->name = L"r\u00e9gion \u2192 \U0001F600";
  root->bytes = {1, 2, 3, 255};
  root->child = new Node();
  root->child->value = 11;
  root->child->child = new Node();
  root->child->child->value = 12;
  root->child->child->peer = root->child;  // back-reference to an object loaded through a pointer
  root->peer = root.get();                 // back-reference to the object archived in place
  return root;
}

}  // namespace

TEST(ArchiveEncoding, goldenBytes_fixedWidthsLittleEndian) {
  EXPECT_EQ(storedValue(true), (std::vector<unsigned char>{1}));
  EXPECT_EQ(storedValue(static_cast<unsigned char>(0xAB)), (std::vector<unsigned char>{0xAB}));
  EXPECT_EQ(storedValue(-2), (std::vector<unsigned char>{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(storedValue(0x12345678L), (std::vector<unsigned char>{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(storedValue(0xFFFFFFFFUL), (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(storedValue(1.0), (std::vector<unsigned char>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(storedValue(std::wstring(L"\u00e9")), (std::vector<unsigned char>{2, 0, 0, 0, 0xC3, 0xA9}));
  EXPECT_EQ(storedValue(std::vector<unsigned char>{9, 8}), (std::vector<unsigned char>{2, 0, 0, 0, 9, 8}));
}

TEST(ArchiveEncoding, longOutside32Bits_throwsUnrepresentableAndWritesNothing) {
  std::vector<unsigned char> bytes;
  kcArchive ar(bytes, kcArchive::eStoring);
  for (long bad : {0x100000000L, -0x80000001L}) EXPECT_THROW(ar || bad, kcArchive::Unrepresentable);
  unsigned long ubig = 0x100000000UL;
  EXPECT_THROW(ar || ubig, kcArchive::Unrepresentable);
  EXPECT_TRUE(bytes.empty());
}

TEST(ArchiveEncoding, valuesRoundTrip_throughMemoryAndStreams) {
  std::stringstream stream;
  long l = INT32_MIN;
  unsigned long ul = UINT32_MAX;
  double d = -0.0;
  std::wstring w = L"\U0010FFFF x";
  bool b = true;
  {
    kcArchive out(stream, kcArchive::eStoring);
    out || l || ul || d || w || b;
  }
  l = 0, ul = 0, d = 1, w.clear(), b = false;
  kcArchive in(stream, kcArchive::eLoading);
  in || l || ul || d || w || b;
  EXPECT_EQ(l, INT32_MIN);
  EXPECT_EQ(ul, UINT32_MAX);
  EXPECT_TRUE(std::signbit(d));
  EXPECT_EQ(w, L"\U0010FFFF x");
  EXPECT_TRUE(b);
  EXPECT_EQ(in.remaining(), 0u);
  EXPECT_THROW(in || b, kcArchive::Damaged);
}

TEST(ArchiveEncoding, badUtf8BadBoolOrCountBeyondTheBytes_throwDamaged) {
  for (auto bytes : {std::vector<unsigned char>{2, 0, 0, 0, 0xC0, 0x80},   // overlong
                     std::vector<unsigned char>{3, 0, 0, 0, 0xED, 0xA0, 0x80},  // surrogate
                     std::vector<unsigned char>{1, 0, 0, 0, 0xE2}}) {       // truncated sequence
    kcArchive in(bytes, kcArchive::eLoading);
    std::wstring w;
    EXPECT_THROW(in || w, kcArchive::Damaged);
  }
  std::vector<unsigned char> two{2}, count{0xFF, 0xFF, 0xFF, 0x7F, 1, 2}, v{5};
  kcArchive boolIn(two, kcArchive::eLoading), vectorIn(count, kcArchive::eLoading);
  bool b;
  EXPECT_THROW(boolIn || b, kcArchive::Damaged);
  EXPECT_THROW(vectorIn || v, kcArchive::Damaged);  // before allocating, and v as it was
  EXPECT_EQ(v, std::vector<unsigned char>{5});
}

TEST(ArchiveObjects, graph_sharedPointersLoadAsOneObject) {
  auto root = makeGraph();
  std::vector<unsigned char> bytes = stored(*root);
  Node copy;
  kcArchive in(bytes, kcArchive::eLoading);
  in || copy;
  EXPECT_EQ(copy.value, -7);
  EXPECT_EQ(copy.name, root->name);
  EXPECT_EQ(copy.bytes, root->bytes);
  ASSERT_NE(copy.child, nullptr);
  ASSERT_NE(copy.child->child, nullptr);
  EXPECT_EQ(copy.child->value, 11);
  EXPECT_EQ(copy.child->child->value, 12);
  EXPECT_EQ(copy.child->child->peer, copy.child);
  EXPECT_EQ(copy.peer, &copy);
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(ArchiveObjects, unknownClassAndOwnedBackReference_refused) {
  Node root;
  root.child = new Node();
  std::vector<unsigned char> bytes = stored(root);
  // Rename the registered class of the child ("test::Node" -> "test::Nope").
  auto at = std::search(bytes.begin(), bytes.end(), std::begin("test::Node"), std::end("test::Node") - 1);
  ASSERT_NE(at, bytes.end());
  std::vector<unsigned char> renamed = bytes;
  std::memcpy(renamed.data() + (at - bytes.begin()), "test::Nope", 10);
  Node target;
  kcArchive in(renamed, kcArchive::eLoading);
  EXPECT_THROW(in || target, kcArchive::UnknownClass);

  // Replace the owned child by a back-reference to the root: two owners must not arise.
  std::vector<unsigned char> backRef(bytes.begin(), at - 5);
  backRef.insert(backRef.end(), {2, 0, 0, 0, 0});
  backRef.push_back(0);  // null peer
  Node target2;
  kcArchive in2(backRef, kcArchive::eLoading);
  EXPECT_THROW(in2 || target2, kcArchive::Damaged);
}

TEST(ArchiveObjects, nestingDeeperThanTheLimit_refusedAsDamaged) {
  // A chain of owned children one level per object: the root in place counts as the first.
  auto chain = [](unsigned levels) {
    auto root = std::make_unique<Node>();
    Node* last = root.get();
    for (unsigned i = 1; i < levels; ++i) last = last->child = new Node();
    return root;
  };
  std::vector<unsigned char> bytes = stored(*chain(kcArchive::kMaxNesting));
  std::vector<unsigned char> deeper = stored(*chain(kcArchive::kMaxNesting + 1));
  Node loaded, refused;
  kcArchive in(bytes, kcArchive::eLoading), in2(deeper, kcArchive::eLoading);
  EXPECT_NO_THROW(in || loaded);
  EXPECT_THROW(in2 || refused, kcArchive::Damaged);
  EXPECT_EQ(refused.child, nullptr);
}

TEST(ArchiveObjects, newerVersion_throwsUnknownVersionKeepingFileAndLine) {
  Node root;
  std::vector<unsigned char> bytes = stored(root);
  bytes[0] = 2;
  Node target;
  kcArchive in(bytes, kcArchive::eLoading);
  try {
    in || target;
    FAIL() << "no exception";
  } catch (const kcArchive::UnknownVersion& e) {
    EXPECT_STREQ(e.file(), "test/node");
    EXPECT_EQ(e.line(), 42);
  }
}

TEST(ArchiveObjects, storingInPlaceTwice_refused) {
  Node root;
  std::vector<unsigned char> bytes;
  kcArchive ar(bytes, kcArchive::eStoring);
  ar || root;
  EXPECT_THROW(ar || root, kcBadArgument);
}

TEST(ArchiveRobustness, everyTruncationAndRandomByteFlips_throwCleanlyNeverCrashOrLeak) {
  const std::vector<unsigned char> bytes = stored(*makeGraph());
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    Node target;
    kcArchive in(bytes.data(), n);
    EXPECT_THROW(in || target, kcException) << "truncated at " << n;
  }
  std::mt19937 rng(20261206);
  int failures = 0;
  for (int trial = 0; trial < 5000; ++trial) {
    std::vector<unsigned char> damaged = bytes;
    int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) damaged[rng() % damaged.size()] ^= static_cast<unsigned char>(1 + rng() % 255);
    Node target;
    kcArchive in(damaged, kcArchive::eLoading);
    try {
      in || target;
    } catch (const kcException&) {
      ++failures;
    }
  }
  EXPECT_GT(failures, 0);  // most flips hit structure; values may legitimately change
}

TEST(Exceptions, foundationErrors_roundTripThroughRegistry) {
  std::vector<std::unique_ptr<kcException>> originals;
  originals.emplace_back(new kcBadArgument(L"bad \u00e9"));
  originals.emplace_back(new kcInvariantFailure(nullptr));
  originals.emplace_back(new kcUnknownError(-3));
  originals.emplace_back(new kcArchive::UnknownVersion("blob/blob", 1481));
  for (auto& original : originals) {
    std::vector<unsigned char> bytes;
    {
      kcArchive out(bytes, kcArchive::eStoring);
      kcPersistent* unused = nullptr;
      kcPersistent::serializePointer(out, original.get(), unused);
    }
    kcArchive in(bytes, kcArchive::eLoading);
    kcPersistent* loaded = nullptr;
    kcPersistent::serializePointer(in, nullptr, loaded, true);
    std::unique_ptr<kcPersistent> owner(loaded);
    auto* error = dynamic_cast<kcException*>(loaded);
    ASSERT_NE(error, nullptr);
    const kcException &read = *error, &written = *original;
    EXPECT_EQ(typeid(read), typeid(written));
    EXPECT_EQ(error->errorNumber(), original->errorNumber());
    EXPECT_EQ(error->message(true), original->message(true));
  }
}

TEST(Exceptions, nullMessage_isEmptyAndSurvivesArchive) {
  kcBadPointer error;
  EXPECT_EQ(error.text(), nullptr);
  EXPECT_EQ(error.message(), L"");
  std::vector<unsigned char> bytes = stored(error);
  kcBadPointer loaded(L"to be replaced");
  kcArchive in(bytes, kcArchive::eLoading);
  in || loaded;
  EXPECT_EQ(loaded.text(), nullptr);
}

TEST(Exceptions, suicideAndRethrow_throwsMostDerivedCopy) {
  kcException* heap = new kcBadArgument(L"gone");
  try {
    heap->suicideAndRethrow();
  } catch (const kcBadArgument& e) {
    EXPECT_EQ(e.message(), L"gone");
    return;
  }
  FAIL() << "not caught as kcBadArgument";
}

TEST(Assertion, failedCheck_namesAssumptionAndProjectRelativeFile) {
  try {
    KC_ASSERT(1 + 1 == 3, "arithmetic holds");
    FAIL() << "no exception";
  } catch (const kcInvariantFailure& e) {
    EXPECT_NE(e.message().find(L"arithmetic holds"), std::wstring::npos);
    // The same text on every machine: no build folder in it.
    EXPECT_EQ(e.message().rfind(L"Internal check failed at tests/platform/foundation/archive_test.cpp:", 0), 0u)
        << std::string(e.message().begin(), e.message().end());
  }
}
