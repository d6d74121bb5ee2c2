// Archive encoding, object references, hostile input and the assertion message.
#include <foundation/archive.h>
#include <foundation/assert.h>

#include "archive_bytes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>

namespace {

using archive_bytes::stored;
using archive_bytes::storedValue;

// A persistent test class: a value, text, an owned child and a non-owning peer.
class Node : public kcPersistent {
 public:
  int value = 0;
  std::wstring name;
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
    ar || value || name;
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
  using B = std::vector<unsigned char>;
  EXPECT_EQ(storedValue(true), B{1});
  EXPECT_EQ(storedValue(static_cast<unsigned char>(0xAB)), B{0xAB});
  EXPECT_EQ(storedValue(-2), (B{0xFE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(storedValue(0x12345678L), (B{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(storedValue(0xFFFFFFFFUL), (B{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(storedValue(1.0), (B{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(storedValue(std::wstring(L"\u00e9")), (B{2, 0, 0, 0, 0xC3, 0xA9}));
  EXPECT_EQ(storedValue(B{9, 8}), (B{2, 0, 0, 0, 9, 8}));
  std::vector<unsigned char> bytes;
  kcArchive ar(bytes, kcArchive::eStoring);
  for (long bad : {0x100000000L, -0x80000001L}) EXPECT_THROW(ar || bad, kcArchive::Unrepresentable);
  unsigned long ubig = 0x100000000UL;
  EXPECT_THROW(ar || ubig, kcArchive::Unrepresentable);
  EXPECT_TRUE(bytes.empty());
}

// Through a stream: the graph loads with its shared objects once each; every prefix of its bytes is
// refused.
TEST(ArchiveObjects, graph_sharedPointersLoadAsOneObject_truncationsOrStoringInPlaceTwiceRefused) {
  auto root = makeGraph();
  std::stringstream stream;
  {
    kcArchive out(stream, kcArchive::eStoring);
    out || *root;
  }
  Node copy;
  kcArchive in(stream, kcArchive::eLoading);
  in || copy;
  EXPECT_TRUE(copy.value == -7 && copy.name == root->name && copy.peer == &copy && in.remaining() == 0);
  ASSERT_TRUE(copy.child != nullptr && copy.child->child != nullptr);
  EXPECT_TRUE(copy.child->value == 11 && copy.child->child->value == 12 && copy.child->child->peer == copy.child);
  std::vector<unsigned char> bytes;
  kcArchive twice(bytes, kcArchive::eStoring);
  twice || copy;
  EXPECT_THROW(twice || copy, kcBadArgument);
  for (std::size_t n = 0; n < bytes.size(); ++n) {
    Node target;
    kcArchive cut(bytes.data(), n);
    EXPECT_THROW(cut || target, kcException) << "truncated at " << n;
  }
}

// A class no one registered, or an owned pointer that names an object already loaded.
TEST(ArchiveObjects, unknownClassOrOwnedBackReference_refused) {
  Node root;
  root.child = new Node();
  std::vector<unsigned char> renamed = stored(root);
  // Rename the registered class of the child ("test::Node" -> "test::Nope").
  auto at = std::search(renamed.begin(), renamed.end(), std::begin("test::Node"), std::end("test::Node") - 1);
  ASSERT_NE(at, renamed.end());
  // Replace the owned child by a back-reference to the root: two owners must not arise.
  std::vector<unsigned char> backRef(renamed.begin(), at - 5);
  backRef.insert(backRef.end(), {2, 0, 0, 0, 0, 0});  // then a null peer
  std::memcpy(&*at, "test::Nope", 10);
  Node target;
  kcArchive in(renamed, kcArchive::eLoading), in2(backRef, kcArchive::eLoading);
  EXPECT_THROW(in || target, kcArchive::UnknownClass);
  EXPECT_THROW(in2 || target, kcArchive::Damaged);
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
