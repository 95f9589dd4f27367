#include "util/random.h"

#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#else
#include <time.h>
#endif

namespace pansift {
namespace {

std::uint32_t CycleCounter() {
#if defined(__x86_64__) || defined(__i386__)
  return static_cast<std::uint32_t>(__rdtsc());
#else
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_nsec) +
         static_cast<std::uint32_t>(now.tv_sec) * 1000000000u;
#endif
}

}  // namespace

int RandomIntFromCounter(std::uint32_t counter, int minimum, int maximum) {
  if (maximum == 0) maximum = 2147483647;
  // A reversed range would divide by zero or yield values outside it: take it either way round.
  if (maximum < minimum) std::swap(minimum, maximum);
  std::uint32_t r = ((counter * 214013u + 2531011u) >> 16) & 0x7FFF;
  std::int64_t span = static_cast<std::int64_t>(maximum) - minimum + 1;
  return static_cast<int>(minimum + static_cast<std::int64_t>(r) % span);
}

int RandomInt(int minimum, int maximum) {
  return RandomIntFromCounter(CycleCounter(), minimum, maximum);
}

std::string RandomDigits(int count, int kind) {
  std::string digits;
  if (count <= 0) return digits;
  digits.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    int digit;
    if (kind == kOddDigit) {
      digit = RandomInt(1, 5) * 2 - 1;
    } else if (kind == kEvenDigit) {
      digit = RandomInt(1, 5) * 2 - 2;
    } else {
      digit = RandomInt(0, 9);
    }
    digits += static_cast<char>('0' + digit);
  }
  return digits;
}

std::string NewLogId() {
  std::string id = std::to_string(RandomInt(1000, 9999));
  id += RandomDigits(8, kAnyDigit);
  id += std::to_string(RandomInt(1000, 9999));
  return id;
}

}  // namespace pansift
