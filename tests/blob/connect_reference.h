// A deliberately naive pel-level reference for the connectivity tests: flood fills over pels,
// a region graph with an outside node, enclosure as immediate dominators from the outside, and
// the close-time cleanup applied bottom-up over that tree.
#pragma once

#include "connect_fixture.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <set>
#include <vector>

namespace connectref {

using connecttest::Grid;

struct RefBlob {
  BlobId parent = 0;
  std::uint8_t label = 0;
  std::int32_t pelCount = -1;
  int left = 0, top = 0, width = 0, height = 0;
  Grid region;
};

// components(g, labelled): a component number per pel, numbered in raster order of first pel.
// Grey-scale: non-zero pels 8-connected, zero pels 4-connected. Labelled: equal values joined
// through left, right, up, down, upper-left and lower-right.
inline std::vector<int> components(const Grid& g, bool labelled, int& count) {
  std::vector<int> comp(g.pels.size(), -1);
  count = 0;
  for (int start = 0; start < static_cast<int>(g.pels.size()); ++start) {
    if (comp[static_cast<std::size_t>(start)] != -1) continue;
    const int c = count++;
    std::deque<int> queue{start};
    comp[static_cast<std::size_t>(start)] = c;
    const std::uint8_t v0 = g.pels[static_cast<std::size_t>(start)];
    while (!queue.empty()) {
      const int p = queue.front();
      queue.pop_front();
      const int x = p % g.width, y = p / g.width;
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          if (dx == 0 && dy == 0) continue;
          const bool diagonal = dx != 0 && dy != 0;
          if (labelled && diagonal && dx != dy) continue;
          if (!labelled && diagonal && v0 == 0) continue;
          const int nx = x + dx, ny = y + dy;
          if (nx < 0 || ny < 0 || nx >= g.width || ny >= g.height) continue;
          const int q = ny * g.width + nx;
          const std::uint8_t v = g.pels[static_cast<std::size_t>(q)];
          const bool same = labelled ? v == v0 : (v != 0) == (v0 != 0);
          if (!same || comp[static_cast<std::size_t>(q)] != -1) continue;
          comp[static_cast<std::size_t>(q)] = c;
          queue.push_back(q);
        }
      }
    }
  }
  return comp;
}

// immediateDominators(adj, root): idom of every node of an undirected graph, by the iterative
// intersection over reverse postorder.
inline std::vector<int> immediateDominators(const std::vector<std::vector<int>>& adj, int root) {
  const int n = static_cast<int>(adj.size());
  std::vector<int> post(static_cast<std::size_t>(n), -1), order;
  std::vector<char> seen(static_cast<std::size_t>(n), 0);
  std::vector<std::pair<int, std::vector<int>::const_iterator>> stack{{root, adj[static_cast<std::size_t>(root)].begin()}};
  seen[static_cast<std::size_t>(root)] = 1;
  while (!stack.empty()) {
    auto& [v, it] = stack.back();
    if (it == adj[static_cast<std::size_t>(v)].end()) {
      post[static_cast<std::size_t>(v)] = static_cast<int>(order.size());
      order.push_back(v);
      stack.pop_back();
      continue;
    }
    const int w = *it++;
    if (!seen[static_cast<std::size_t>(w)]) {
      seen[static_cast<std::size_t>(w)] = 1;
      stack.push_back({w, adj[static_cast<std::size_t>(w)].begin()});
    }
  }
  std::vector<int> idom(static_cast<std::size_t>(n), -1);
  idom[static_cast<std::size_t>(root)] = root;
  auto intersect = [&](int a, int b) {
    while (a != b) {
      while (post[static_cast<std::size_t>(a)] < post[static_cast<std::size_t>(b)]) a = idom[static_cast<std::size_t>(a)];
      while (post[static_cast<std::size_t>(b)] < post[static_cast<std::size_t>(a)]) b = idom[static_cast<std::size_t>(b)];
    }
    return a;
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      const int b = *it;
      if (b == root) continue;
      int d = -1;
      for (int p : adj[static_cast<std::size_t>(b)])
        if (idom[static_cast<std::size_t>(p)] != -1) d = d == -1 ? p : intersect(p, d);
      if (idom[static_cast<std::size_t>(b)] != d) {
        idom[static_cast<std::size_t>(b)] = d;
        changed = true;
      }
    }
  }
  return idom;
}

// reference(g, labelled, cleanup, minPels): the blobs in id order.
inline std::vector<RefBlob> reference(const Grid& g, bool labelled, kc_CleanupKind cleanup,
                                      PelCount minPels) {
  int count = 0;
  const std::vector<int> comp = components(g, labelled, count);
  const int outside = count;
  std::vector<std::vector<int>> adj(static_cast<std::size_t>(count + 1));
  std::vector<std::vector<int>> pelsOf(static_cast<std::size_t>(count));
  std::vector<std::uint8_t> value(static_cast<std::size_t>(count));
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) {
      const int p = y * g.width + x, c = comp[static_cast<std::size_t>(p)];
      if (pelsOf[static_cast<std::size_t>(c)].empty()) value[static_cast<std::size_t>(c)] = g.at(x, y);
      pelsOf[static_cast<std::size_t>(c)].push_back(p);
      auto link = [&](int d) {
        if (d == c) return;
        adj[static_cast<std::size_t>(c)].push_back(d);
        adj[static_cast<std::size_t>(d)].push_back(c);
      };
      if (x == 0 || y == 0 || x == g.width - 1 || y == g.height - 1) link(outside);
      if (x + 1 < g.width) link(comp[static_cast<std::size_t>(p + 1)]);
      if (y + 1 < g.height) link(comp[static_cast<std::size_t>(p + g.width)]);
      if (labelled && x + 1 < g.width && y + 1 < g.height) link(comp[static_cast<std::size_t>(p + g.width + 1)]);
    }
  }
  for (std::vector<int>& a : adj) {
    std::sort(a.begin(), a.end());
    a.erase(std::unique(a.begin(), a.end()), a.end());
  }
  const std::vector<int> idom = immediateDominators(adj, outside);

  // The cleanup over the tree, children first. A node carries the components merged into it.
  struct Node {
    std::vector<int> members;
    std::vector<int> children;
    PelCount pels = 0;
    bool alive = true;
  };
  std::vector<Node> nodes(static_cast<std::size_t>(count));
  std::vector<std::vector<int>> treeChildren(static_cast<std::size_t>(count + 1));
  for (int c = 0; c < count; ++c) {
    nodes[static_cast<std::size_t>(c)].members = {c};
    nodes[static_cast<std::size_t>(c)].pels = pelsOf[static_cast<std::size_t>(c)].size();
    treeChildren[static_cast<std::size_t>(idom[static_cast<std::size_t>(c)])].push_back(c);
  }
  std::vector<char> filled(static_cast<std::size_t>(count), 0);
  const auto small = [&](const Node& n) { return cleanup != kc_CleanupKind::eNone && n.pels < minPels; };
  // Post-order without recursion: closing order is children before parents.
  std::vector<std::pair<int, std::size_t>> walk;
  for (int top : treeChildren[static_cast<std::size_t>(outside)]) {
    walk.push_back({top, 0});
    while (!walk.empty()) {
      auto& [x, i] = walk.back();
      if (i < treeChildren[static_cast<std::size_t>(x)].size()) {
        const int child = treeChildren[static_cast<std::size_t>(x)][i++];
        walk.push_back({child, 0});
        continue;
      }
      const int r = x;
      walk.pop_back();
      if (walk.empty()) break;
      Node& rn = nodes[static_cast<std::size_t>(r)];
      Node& pn = nodes[static_cast<std::size_t>(walk.back().first)];
      if (!small(rn) || (cleanup == kc_CleanupKind::ePrune && !rn.children.empty())) {
        pn.children.push_back(r);
      } else if (cleanup == kc_CleanupKind::ePrune) {
        rn.alive = false;
      } else {
        for (int c : rn.children) {
          Node& cn = nodes[static_cast<std::size_t>(c)];
          pn.members.insert(pn.members.end(), cn.members.begin(), cn.members.end());
          pn.children.insert(pn.children.end(), cn.children.begin(), cn.children.end());
          pn.pels += cn.pels;
          cn.alive = false;
        }
        for (int m : rn.members) filled[static_cast<std::size_t>(m)] = 1;
        pn.members.insert(pn.members.end(), rn.members.begin(), rn.members.end());
        pn.pels += rn.pels;
        rn.alive = false;
      }
    }
  }
  std::vector<int> parent(static_cast<std::size_t>(count), -1);
  std::vector<int> roots;
  for (int top : treeChildren[static_cast<std::size_t>(outside)]) {
    const Node& n = nodes[static_cast<std::size_t>(top)];
    if (!labelled && value[static_cast<std::size_t>(top)] == 0) {
      roots.insert(roots.end(), n.children.begin(), n.children.end());
      nodes[static_cast<std::size_t>(top)].alive = false;
    } else {
      roots.push_back(top);
    }
  }
  for (int c = 0; c < count; ++c)
    if (nodes[static_cast<std::size_t>(c)].alive)
      for (int ch : nodes[static_cast<std::size_t>(c)].children) parent[static_cast<std::size_t>(ch)] = c;
  for (int r : roots) {
    Node& n = nodes[static_cast<std::size_t>(r)];
    if (small(n) && n.children.empty()) n.alive = false;
  }

  // Numbering in raster order of first pel, then each blob's fields.
  std::vector<std::pair<int, int>> firsts;  // (first pel, node)
  for (int c = 0; c < count; ++c) {
    const Node& n = nodes[static_cast<std::size_t>(c)];
    if (!n.alive) continue;
    int first = g.width * g.height;
    for (int m : n.members) first = std::min(first, pelsOf[static_cast<std::size_t>(m)].front());
    firsts.push_back({first, c});
  }
  std::sort(firsts.begin(), firsts.end());
  std::vector<BlobId> idOf(static_cast<std::size_t>(count), 0);
  for (std::size_t i = 0; i < firsts.size(); ++i) idOf[static_cast<std::size_t>(firsts[i].second)] = static_cast<BlobId>(i + 1);

  bool binary = true;
  for (std::uint8_t v : g.pels) binary = binary && v <= 1;
  const auto written = [&](int p) -> std::uint8_t {
    if (labelled) return 1;
    const std::uint8_t v = g.pels[static_cast<std::size_t>(p)];
    return v != 0 ? v : 1;
  };
  std::vector<RefBlob> blobs;
  for (const auto& [first, c] : firsts) {
    const Node& n = nodes[static_cast<std::size_t>(c)];
    RefBlob b;
    const int p = parent[static_cast<std::size_t>(c)];
    b.parent = p >= 0 ? idOf[static_cast<std::size_t>(p)] : 0;
    const std::uint8_t v = value[static_cast<std::size_t>(c)];
    if (!binary && !labelled) {
      b.label = v == 0 ? 0 : 1;
      b.pelCount = v == 0 ? static_cast<std::int32_t>(n.pels) : -1;
    } else {
      b.label = v;
      b.pelCount = static_cast<std::int32_t>(n.pels);
    }
    int x0 = g.width, y0 = g.height, x1 = -1, y1 = -1;
    std::vector<char> mine(g.pels.size(), 0);
    for (int m : n.members) {
      for (int q : pelsOf[static_cast<std::size_t>(m)]) {
        mine[static_cast<std::size_t>(q)] = filled[static_cast<std::size_t>(m)] ? 2 : 1;
        x0 = std::min(x0, q % g.width), x1 = std::max(x1, q % g.width);
        y0 = std::min(y0, q / g.width), y1 = std::max(y1, q / g.width);
      }
    }
    b.left = x0, b.top = y0, b.width = x1 - x0 + 1, b.height = y1 - y0 + 1;
    b.region.width = b.width, b.region.height = b.height;
    for (int y = y0; y <= y1; ++y) {
      std::uint8_t carried = 0;  // written value of the nearest unfilled pel to the left
      for (int x = x0; x <= x1; ++x) {
        const int q = y * g.width + x;
        std::uint8_t out = 0;
        if (mine[static_cast<std::size_t>(q)] == 1) out = carried = written(q);
        else if (mine[static_cast<std::size_t>(q)] == 2) out = carried;
        b.region.pels.push_back(out);
      }
    }
    blobs.push_back(std::move(b));
  }
  return blobs;
}

// compare(g, labelled, out, ref): every difference as a test failure naming the blob.
inline void compare(const kc_ConnectOutput& out, const std::vector<RefBlob>& ref) {
  ASSERT_EQ(out.blobs.size(), ref.size()) << "blob count";
  std::set<BlobId> topSet(out.topIds.begin(), out.topIds.end());
  EXPECT_EQ(topSet.size(), out.topIds.size()) << "top-level ids are distinct";
  for (std::size_t i = 0; i < ref.size(); ++i) {
    const kc_BlobOutput& b = out.blobs[i];
    const RefBlob& r = ref[i];
    const BlobId id = static_cast<BlobId>(i + 1);
    ASSERT_EQ(b.id, id);
    EXPECT_EQ(b.parent, r.parent) << "parent of blob " << id;
    EXPECT_EQ(topSet.count(id) != 0, r.parent == 0) << "blob " << id << " is listed top level";
    EXPECT_EQ(b.label, r.label) << "label of blob " << id;
    EXPECT_EQ(b.pelCount, r.pelCount) << "pel count of blob " << id;
    EXPECT_EQ(b.left, r.left) << "left of blob " << id;
    EXPECT_EQ(b.top, r.top) << "top of blob " << id;
    ASSERT_EQ(b.width, r.width) << "width of blob " << id;
    ASSERT_EQ(b.height, r.height) << "height of blob " << id;
    EXPECT_EQ(connecttest::pelsOf(b).pels, r.region.pels) << "region of blob " << id;
  }
}

}  // namespace connectref
