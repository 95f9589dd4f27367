#include "core/platform.h"

namespace pansift {

MessageBoxResult TimedMessageBox(Platform& platform, std::string_view caption,
                                 std::string_view text, int timeoutMs, MessageBoxStyle style,
                                 WindowId owner) {
  return platform.messageBox(caption, text, timeoutMs, style, owner);
}

void WaitPumping(Platform& platform, std::chrono::milliseconds duration) {
  platform.waitPumping(duration);
}

void ProcessEvents(Platform& platform) {
  platform.processEvents();
}

}  // namespace pansift
