// The boundary measures: traced outlines against a pel-level reference on random regions, the
// drawn cases, the whole-image refusal, and the perimeter and acircularities under transforms.
#include "measure/blob_chain.h"

#include "common/flood_fill.h"
#include "measure/measure_fixture.h"

namespace {

using namespace measuretest;

// rowsOf(g): the grid's rows as runs of one pel each, one after another; the trace joins them.
std::vector<unsigned char> rowsOf(const Grid& g) {
  std::vector<unsigned char> bytes;
  for (int y = 0; y < g.height; ++y) {
    for (int x = 0; x < g.width; ++x) bytes.insert(bytes.end(), {g.at(x, y), 1});
    bytes.insert(bytes.end(), {0, 0});
  }
  return bytes;
}

// ---- the reference: the region with its holes filled, from outside inwards ----

// components(g, touch): the shared flood-fill labelling of g's pels, the region's pels (non-zero)
// joined by the region rule and the others by the complementary one: across a corner where the
// region does not join (blobs eight-connected, holes four-connected, labelled regions across the
// upper-left/lower-right diagonal only, which leaves that diagonal to the outside as well).
std::vector<int> components(const Grid& g, kc_Chain::Touch touch) {
  std::vector<std::uint8_t> classes;
  for (std::uint8_t p : g.pels) classes.push_back((p != 0) == touch.h ? 1 : 0);
  int count = 0;
  return floodfill::components(g.width, g.height, classes,
                               touch.h == touch.v ? floodfill::Joins::eGrey : floodfill::Joins::eLabelled, count);
}

// filled(g, touch): g framed by a pel of 0 on each side, 1 inside the outline: all but the pels
// joined to the frame.
Grid filled(const Grid& g, kc_Chain::Touch touch) {
  Grid f{g.width + 2, g.height + 2, {}};
  f.pels.resize(static_cast<std::size_t>(f.width * f.height));
  for (int y = 0; y < g.height; ++y)
    for (int x = 0; x < g.width; ++x) f.pels[static_cast<std::size_t>((y + 1) * f.width + x + 1)] = g.at(x, y);
  const std::vector<int> c = components(f, touch);
  for (std::size_t p = 0; p < c.size(); ++p) f.pels[p] = c[p] != c[0];
  return f;
}

// expectOutline(g, touch, t): the chain runs along the edges of the filled region, region on the
// right, once round from its start; numSteps is the number of such edges; corners the right turns.
void expectOutline(const Grid& g, kc_Chain::Touch touch, const kc_Chain::Trace& t) {
  const Grid in = filled(g, touch);
  const auto at = [&](long x, long y) {
    return x >= -1 && y >= -1 && x <= g.width && y <= g.height && in.at(int(x) + 1, int(y) + 1) != 0;
  };
  long edges = 0;
  for (int y = 0; y <= g.height; ++y)
    for (int x = 0; x <= g.width; ++x) edges += (at(x, y) != at(x - 1, y)) + (at(x, y) != at(x, y - 1));
  ASSERT_EQ(static_cast<long>(t.code.size()) - 1, edges) << "every edge of the filled region once";
  ASSERT_EQ(t.code.back(), keBlobDirectionEnd);
  // Step d from corner (x, y): the pel on its right is inside, the one on its left outside.
  static const int kMove[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
  static const int kRight[4][2] = {{0, 0}, {-1, -1}, {-1, 0}, {0, -1}};
  static const int kLeft[4][2] = {{0, -1}, {-1, 0}, {0, 0}, {-1, -1}};
  long x = t.start.x(), y = t.start.y(), turns = 0;
  const std::size_t n = t.code.size() - 1;
  for (std::size_t i = 0; i < n; ++i) {
    const int d = t.code[i];
    ASSERT_TRUE(at(x + kRight[d][0], y + kRight[d][1]) && !at(x + kLeft[d][0], y + kLeft[d][1])) << "step " << i;
    x += kMove[d][0];
    y += kMove[d][1];
    const int next = t.code[(i + 1) % n];
    turns += (d == 0 && next == 2) || (d == 2 && next == 1) || (d == 1 && next == 3) || (d == 3 && next == 0);
  }
  EXPECT_EQ(kcPair<long>(x, y), t.start) << "the chain closes";
  EXPECT_EQ(t.corners, turns);
  EXPECT_EQ(t.horizontalSteps + t.verticalSteps, static_cast<std::int32_t>(n));
}

TEST(BlobChain_trace, randomRegions_outlineOfTheFilledRegion) {
  std::mt19937 rng(15);
  const kc_Chain::Touch rules[] = {{true, true}, {false, false}, {false, true}};  // blob, hole, labelled
  for (int i = 0; i < 5000; ++i) {
    const int width = 1 + static_cast<int>(rng() % 24), height = 1 + static_cast<int>(rng() % 24);
    Grid g = randomPels(rng, width, height, static_cast<unsigned>(20 + rng() % 70), 1);
    // One region of the non-zero pels by its rule, the rest set to 0.
    const kc_Chain::Touch touch = rules[i % 3];
    const std::vector<int> c = components(g, touch);
    const std::size_t seed = rng() % g.pels.size();
    if (g.pels[seed] == 0) continue;
    for (std::size_t p = 0; p < g.pels.size(); ++p) g.pels[p] = c[p] == c[seed];
    SCOPED_TRACE(testing::Message() << "region " << i);
    const std::vector<unsigned char> rows = rowsOf(g);
    expectOutline(g, touch, kc_Chain::trace(rows.data(), g.width, g.height, {0, 0}, touch));
    if (testing::Test::HasFatalFailure()) return;
  }
}

// ---- the blob's measures ----

// A single pel: its chain starts at its corner in image coordinates. Two hole pels touching at a
// corner make two holes of a pel's outline; labelled 1s join across the upper-left corner. A
// whole-image blob has no outline: its boundary measures are refused, the others work.
TEST(BlobChain_measures, drawnRegions_chainsFollowTheirCornerRule_wholeImageRefused) {
  const Scene scene = analysed(draw({"...", ".#.", "..."}), {10, 20});
  const kcBlob* b = scene.getBlob(1);
  std::vector<keBlobDirection> code;
  EXPECT_EQ(b->boundaryChainCode(code), kcPair<long>(11, 21));
  EXPECT_EQ(std::vector<int>(code.begin(), code.end()), (std::vector<int>{0, 2, 1, 3, 4}));
  EXPECT_EQ(b->numSteps(), 4);
  EXPECT_EQ(b->perimeter(), 0.94806 * (4 - 0.58579 * 4));
  EXPECT_NEAR(b->acircularity(), 0.196346, 1e-6);
  EXPECT_NEAR(b->acircularityRms(), 1.253314, 1e-6);
  const Scene grey = analysed(draw({"####", "#.##", "##.#", "####"}));
  ASSERT_EQ(grey.numBlobs(false), 3);
  EXPECT_EQ(grey.getBlob(2)->numSteps(), 4);
  Scene labelled;
  labelled.connectComponentsLabelled(encode(draw({"12", "21"})), Scene::eNone, 0);
  EXPECT_TRUE(labelled.getBlob(1)->numSteps() == 8 && labelled.getBlob(2)->numSteps() == 4);
  const Scene whole = analysed(draw({"##", "#."}), {0, 0}, 1, true);
  for (const auto& measure : {kcBlob::eNumSteps, kcBlob::ePerimeter, kcBlob::eAcircularityRms})
    EXPECT_THROW(whole.getBlob(1)->measure(measure), kcBlob::BadMeasure);
  EXPECT_EQ(whole.getBlob(1)->area(), 3.0);
}

// Under a matrix the corner weight is computed (2 - sqrt 2 for a uniform scale), under the identity
// it is the constant 0.58579: scales are compared with each other, and with the identity loosely.
TEST(BlobChain_measures, clientTransforms_scaleTheLengthsNotTheShape) {
  const Grid g = draw({"......", ".####.", ".#####", "..###.", "......"});
  Scene plain = analysed(g), doubled = analysed(g), scaled = analysed(g);
  doubled.clientFromImageXform(kcXform<2>(kcMatrix<2>(2, 0, 0, 2), kcVector<2>(0, 0)));
  scaled.clientFromImageXform(kcXform<2>(kcMatrix<2>(3, 0, 0, 3), kcVector<2>(0, 0)));
  const kcBlob *b0 = plain.getBlob(1), *b2 = doubled.getBlob(1), *b1 = scaled.getBlob(1);
  const auto close = [](double a, double b) { EXPECT_NEAR(a, b, 1e-12 * std::fabs(b)); };
  close(b1->perimeter(), 1.5 * b2->perimeter());
  close(b1->acircularity(), b2->acircularity());
  close(b1->acircularityRms(), b2->acircularityRms());
  EXPECT_NEAR(b2->perimeter(), 2 * b0->perimeter(), 1e-5 * b2->perimeter());
  close(b2->acircularityRms(), b0->acircularityRms());
}

}  // namespace
