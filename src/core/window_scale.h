// Scaling of a window laid out at 96 DPI to the screen's DPI. Qt scales the real
// windows by itself; this keeps the arithmetic for anything laid out by hand.
#pragma once

#include <vector>

namespace pansift {

/// value × numerator / denominator, rounded to the nearest integer (halves away
/// from zero), computed on the exact product.
int MulDiv(int value, int numerator, int denominator);

struct WindowGeometry {
  bool topLevel = false;
  // Top-level: outer rectangle in screen coordinates and client size.
  // Control: rectangle in the parent's client coordinates.
  int x = 0, y = 0, width = 0, height = 0;
  int clientWidth = 0, clientHeight = 0;
  std::vector<WindowGeometry> children;
};

/// Scales children depth first, then the window itself: a control's rectangle is
/// scaled; a top-level window's client size is scaled, its frame kept, its centre kept.
void ScaleWindowForDpi(WindowGeometry& window, int screenDpi);

}  // namespace pansift
