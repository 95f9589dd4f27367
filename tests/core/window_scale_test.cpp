#include "core/window_scale.h"

#include <gtest/gtest.h>

namespace pansift {
namespace {

TEST(ScaleWindowForDpi, ControlsScaleWithRoundingAndWindowsKeepTheirCentre) {
  WindowGeometry window{true, 50, 50, 1005, 694, 997, 663, {}};
  window.children.push_back({false, 8, 16, 640, 122, 0, 0, {}});
  window.children[0].children.push_back({false, 1, 1, 3, 5, 0, 0, {}});
  ScaleWindowForDpi(window, 144);
  const WindowGeometry& log = window.children[0];
  EXPECT_EQ((std::vector<int>{log.x, log.y, log.width, log.height}),
            (std::vector<int>{12, 24, 960, 183}));
  const WindowGeometry& inner = log.children[0];
  EXPECT_EQ((std::vector<int>{inner.x, inner.y, inner.width, inner.height}),
            (std::vector<int>{2, 2, 5, 8}));
  EXPECT_EQ(window.clientWidth, 1496);
  EXPECT_EQ(window.width, 1504);
  EXPECT_EQ(window.x, 50 - (1504 - 1005) / 2);
}

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(MulDiv(3, 1, 2), 2);
  EXPECT_EQ(MulDiv(-3, 1, 2), -2);
  EXPECT_EQ(MulDiv(122, 144, 96), 183);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
}

}  // namespace
}  // namespace pansift
