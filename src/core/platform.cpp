#include "core/platform.h"

namespace pansift {

MessageBoxResult TimedMessageBox(Platform& platform, std::string_view caption,
                                 std::string_view text, int timeoutMs, MessageBoxStyle style,
                                 WindowId owner) {
  return platform.messageBox(caption, text, timeoutMs, style, owner);
}

void WaitPumping(Platform& platform, long long amount, WaitUnit unit) {
  static constexpr long long kUnitMs[] = {1, 1000, 60000, 3600000};
  long long perUnit = (unit >= 0 && unit <= 3) ? kUnitMs[unit] : 1;
  platform.waitPumping(std::chrono::milliseconds(amount * perUnit));
}

void ProcessEvents(Platform& platform) {
  platform.processEvents();
}

}  // namespace pansift
