#include "core/window_scale.h"

#include <cstdint>

namespace pansift {

int MulDiv(int value, int numerator, int denominator) {
  if (denominator == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(value) * numerator;
  std::int64_t half = (denominator < 0 ? -denominator : denominator) / 2;
  bool negative = (product < 0) != (denominator < 0);
  std::int64_t magnitude = (product < 0 ? -product : product) + half;
  std::int64_t result = magnitude / (denominator < 0 ? -denominator : denominator);
  return static_cast<int>(negative ? -result : result);
}

void ScaleWindowForDpi(WindowGeometry& window, int screenDpi) {
  constexpr int kDesignDpi = 96;
  for (WindowGeometry& child : window.children) ScaleWindowForDpi(child, screenDpi);
  if (window.topLevel) {
    int frameW = window.width - window.clientWidth;
    int frameH = window.height - window.clientHeight;
    window.clientWidth = MulDiv(window.clientWidth, screenDpi, kDesignDpi);
    window.clientHeight = MulDiv(window.clientHeight, screenDpi, kDesignDpi);
    int newW = frameW + window.clientWidth;
    int newH = frameH + window.clientHeight;
    window.x -= (newW - window.width) / 2;
    window.y -= (newH - window.height) / 2;
    window.width = newW;
    window.height = newH;
    return;
  }
  window.x = MulDiv(window.x, screenDpi, kDesignDpi);
  window.y = MulDiv(window.y, screenDpi, kDesignDpi);
  window.width = MulDiv(window.width, screenDpi, kDesignDpi);
  window.height = MulDiv(window.height, screenDpi, kDesignDpi);
}

}  // namespace pansift
