// A deliberately naive pel-level reference for the connectivity tests: the shared flood fills,
// a region graph with an outside node, enclosure as immediate dominators from the outside, and
// the close-time cleanup applied bottom-up over that tree.
#pragma once

#include "common/flood_fill.h"
#include "connect/connect_fixture.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace connectref {

using connecttest::Grid;

// Indexed<T>: a vector indexed by the int pel, component and node numbers the reference works in.
template <class T>
struct Indexed : std::vector<T> {
  Indexed() = default;
  Indexed(int n, const T& value) : std::vector<T>(static_cast<std::size_t>(n), value) {}
  Indexed(std::vector<T> v) : std::vector<T>(std::move(v)) {}
  T& operator[](int i) { return std::vector<T>::at(static_cast<std::size_t>(i)); }
  const T& operator[](int i) const { return std::vector<T>::at(static_cast<std::size_t>(i)); }
};

struct RefBlob {
  BlobId parent = 0;
  std::uint8_t label = 0;
  std::int32_t pelCount = -1;
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<std::uint8_t> region;
};

// components(g, labelled, count): a component per pel, numbered in raster order of first pel.
// Grey-scale: non-zero pels 8-connected, zero pels 4-connected. Labelled: equal values joined
// through left, right, up, down, upper-left and lower-right.
inline Indexed<int> components(const Grid& g, bool labelled, int& count) {
  std::vector<std::uint8_t> classes = g.pels;
  if (!labelled)
    for (std::uint8_t& c : classes) c = static_cast<std::uint8_t>(c != 0);
  const auto joins = labelled ? floodfill::Joins::eLabelled : floodfill::Joins::eGrey;
  return floodfill::components(g.width, g.height, classes, joins, count);
}

// immediateDominators(adj, root): idom of every node of an undirected graph, by the iterative
// intersection over reverse postorder.
inline Indexed<int> immediateDominators(const Indexed<std::vector<int>>& adj, int root) {
  const int n = static_cast<int>(adj.size());
  Indexed<int> post(n, -1), idom(n, -1);
  std::vector<int> order;
  std::vector<std::pair<int, std::size_t>> stack{{root, 0}};
  Indexed<char> seen(n, 0);
  seen[root] = 1;
  while (!stack.empty()) {
    auto& [v, i] = stack.back();
    if (i == adj[v].size()) {
      post[v] = static_cast<int>(order.size());
      order.push_back(v);
      stack.pop_back();
    } else if (const int w = adj[v][i++]; !seen[w]) {
      seen[w] = 1;
      stack.push_back({w, 0});
    }
  }
  auto intersect = [&](int a, int b) {
    while (a != b) {
      while (post[a] < post[b]) a = idom[a];
      while (post[b] < post[a]) b = idom[b];
    }
    return a;
  };
  idom[root] = root;
  for (bool changed = true; changed;) {
    changed = false;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      if (*it == root) continue;
      int d = -1;
      for (int p : adj[*it])
        if (idom[p] != -1) d = d == -1 ? p : intersect(p, d);
      changed = changed || idom[*it] != d;
      idom[*it] = d;
    }
  }
  return idom;
}

// reference(g, labelled, cleanup, minPels): the blobs in id order.
inline std::vector<RefBlob> reference(const Grid& g, bool labelled, kc_CleanupKind cleanup,
                                      PelCount minPels) {
  int count = 0;
  const Indexed<int> comp = components(g, labelled, count);
  const auto pel = [&](int p) { return g.pels[static_cast<std::size_t>(p)]; };
  const int outside = count;
  Indexed<std::vector<int>> adj(count + 1, {}), pelsOf(count, {});
  for (int p = 0; p < static_cast<int>(g.pels.size()); ++p) {
    const int x = p % g.width, y = p / g.width, c = comp[p];
    pelsOf[c].push_back(p);
    auto link = [&](int d) {
      if (d != c) adj[c].push_back(d), adj[d].push_back(c);
    };
    if (x == 0 || y == 0 || x == g.width - 1 || y == g.height - 1) link(outside);
    if (x + 1 < g.width) link(comp[p + 1]);
    if (y + 1 < g.height) link(comp[p + g.width]);
    if (labelled && x + 1 < g.width && y + 1 < g.height) link(comp[p + g.width + 1]);
  }
  for (std::vector<int>& a : adj) {
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
  }
  const Indexed<int> idom = immediateDominators(adj, outside);
  const auto value = [&](int c) { return pel(pelsOf[c].front()); };

  // The cleanup over the tree, children closed before parents. A node carries the components
  // merged into it; filled marks components whose pels were filled into their encloser.
  struct Node {
    std::vector<int> members, children;
    PelCount pels = 0;
    bool alive = true;
  };
  Indexed<Node> nodes(count, {});
  Indexed<std::vector<int>> tree(count + 1, {});
  Indexed<char> filled(count, 0);
  for (int c = 0; c < count; ++c) {
    nodes[c].members = {c};
    nodes[c].pels = static_cast<PelCount>(pelsOf[c].size());
    tree[idom[c]].push_back(c);
  }
  const auto small = [&](const Node& n) { return cleanup != kc_CleanupKind::eNone && n.pels < minPels; };
  const auto close = [&](int r, int p) {
    Node &rn = nodes[r], &pn = nodes[p];
    if (!small(rn) || (cleanup == kc_CleanupKind::ePrune && !rn.children.empty())) {
      pn.children.push_back(r);
      return;
    }
    rn.alive = false;
    if (cleanup == kc_CleanupKind::ePrune) return;
    for (int c : rn.children) {  // the children join the encloser; their children become its own
      Node& cn = nodes[c];
      pn.members.insert(pn.members.end(), cn.members.begin(), cn.members.end());
      pn.children.insert(pn.children.end(), cn.children.begin(), cn.children.end());
      pn.pels += cn.pels;
      cn.alive = false;
    }
    for (int m : rn.members) filled[m] = 1;
    pn.members.insert(pn.members.end(), rn.members.begin(), rn.members.end());
    pn.pels += rn.pels;
  };
  std::vector<int> roots;
  for (int top : tree[outside]) {
    std::vector<std::pair<int, std::size_t>> walk{{top, 0}};
    while (!walk.empty()) {
      auto& [x, i] = walk.back();
      if (i < tree[x].size()) {
        walk.push_back({tree[x][i++], 0});
        continue;
      }
      const int r = x;
      walk.pop_back();
      if (!walk.empty()) close(r, walk.back().first);
    }
    if (!labelled && value(top) == 0) {  // unenclosed background: its children become top level
      roots.insert(roots.end(), nodes[top].children.begin(), nodes[top].children.end());
      nodes[top].alive = false;
    } else {
      roots.push_back(top);
    }
  }
  for (int r : roots)
    if (small(nodes[r]) && nodes[r].children.empty()) nodes[r].alive = false;
  Indexed<int> parent(count, -1);
  for (int c = 0; c < count; ++c)
    if (nodes[c].alive)
      for (int ch : nodes[c].children) parent[ch] = c;

  // Numbering in raster order of first pel, then each blob's fields and pels.
  std::vector<std::pair<int, int>> firsts;  // (first pel, node)
  for (int c = 0; c < count; ++c) {
    if (!nodes[c].alive) continue;
    int first = static_cast<int>(g.pels.size());
    for (int m : nodes[c].members) first = std::min(first, pelsOf[m].front());
    firsts.push_back({first, c});
  }
  std::sort(firsts.begin(), firsts.end());
  Indexed<BlobId> idOf(count, 0);
  for (std::size_t i = 0; i < firsts.size(); ++i) idOf[firsts[i].second] = static_cast<BlobId>(i + 1);
  const bool binary = std::all_of(g.pels.begin(), g.pels.end(), [](std::uint8_t v) { return v <= 1; });
  std::vector<RefBlob> blobs;
  for (const auto& [first, c] : firsts) {
    const Node& n = nodes[c];
    RefBlob b;
    b.parent = parent[c] >= 0 ? idOf[parent[c]] : 0;
    const bool weighted = !binary && !labelled;
    b.label = weighted ? static_cast<std::uint8_t>(value(c) != 0) : value(c);
    b.pelCount = weighted && value(c) != 0 ? -1 : static_cast<std::int32_t>(n.pels);
    int x0 = g.width, y0 = g.height, x1 = -1, y1 = -1;
    for (int m : n.members)
      for (int q : pelsOf[m]) {
        x0 = std::min(x0, q % g.width), x1 = std::max(x1, q % g.width);
        y0 = std::min(y0, q / g.width), y1 = std::max(y1, q / g.width);
      }
    b.left = x0, b.top = y0, b.width = x1 - x0 + 1, b.height = y1 - y0 + 1;
    Indexed<char> mine(b.width * b.height, 0);  // 1 own pel, 2 filled pel
    for (int m : n.members)
      for (int q : pelsOf[m]) mine[(q / g.width - y0) * b.width + (q % g.width - x0)] = filled[m] ? 2 : 1;
    for (int y = y0; y <= y1; ++y) {
      std::uint8_t carried = 0;  // a filled pel takes the value written for the pel left of it
      for (int x = x0; x <= x1; ++x) {
        const char own = mine[(y - y0) * b.width + (x - x0)];
        if (own == 1)
          carried = labelled ? std::uint8_t{1} : std::max<std::uint8_t>(pel(y * g.width + x), 1);
        b.region.push_back(own != 0 ? carried : std::uint8_t{0});
      }
    }
    blobs.push_back(std::move(b));
  }
  return blobs;
}

// compare(out, ref): every difference as a test failure naming the blob; the top level and each
// child list, read through the sibling links, hold the blobs the reference puts there, and the top
// level's links follow topIds.
inline void compare(const connecttest::Output& out, const std::vector<RefBlob>& ref) {
  ASSERT_EQ(out.blobs.size(), ref.size()) << "blob count";
  std::vector<std::vector<BlobId>> children(ref.size() + 1);  // [0]: the top level
  for (std::size_t i = 0; i < ref.size(); ++i) children.at(ref[i].parent).push_back(static_cast<BlobId>(i + 1));
  const auto sorted = [](std::vector<BlobId> ids) { return std::sort(ids.begin(), ids.end()), ids; };
  EXPECT_EQ(sorted(out.topIds), children[0]) << "top level";
  for (std::size_t k = 0; k < out.topIds.size(); ++k)
    EXPECT_EQ(connecttest::blob(out, out.topIds[k]).nextSibling, k + 1 < out.topIds.size() ? out.topIds[k + 1] : 0);
  for (std::size_t i = 0; i < ref.size(); ++i) {
    const connecttest::BlobView& b = out.blobs[i];
    const RefBlob& r = ref[i];
    ASSERT_EQ(b.id, i + 1);
    EXPECT_EQ(b.parent, r.parent) << "parent of blob " << b.id;
    EXPECT_EQ(sorted(connecttest::childrenOf(out, b.id)), children[i + 1]) << "children of blob " << b.id;
    EXPECT_EQ(b.label, r.label) << "label of blob " << b.id;
    EXPECT_EQ(b.pelCount, r.pelCount) << "pel count of blob " << b.id;
    EXPECT_EQ(b.left, r.left) << "left of blob " << b.id;
    EXPECT_EQ(b.top, r.top) << "top of blob " << b.id;
    ASSERT_EQ(b.width, r.width) << "width of blob " << b.id;
    ASSERT_EQ(b.height, r.height) << "height of blob " << b.id;
    EXPECT_EQ(connecttest::pelsOf(b).pels, r.region) << "region of blob " << b.id;
  }
}

}  // namespace connectref
