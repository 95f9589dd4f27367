// The random numbers put into request URLs. No generator state is kept: every call
// seeds itself from the processor's cycle counter, so calls are re-entrant and two
// calls close together on different threads may return the same value.
#pragma once

#include <cstdint>
#include <string>

namespace pansift {

/// An integer in [minimum, maximum]; a maximum of 0 stands for 2147483647. The spread
/// comes from a 15-bit value, so wide ranges only see their first 32768 values.
int RandomInt(int minimum, int maximum);
/// RandomInt with the counter value given, for reproducing a draw.
int RandomIntFromCounter(std::uint32_t counter, int minimum, int maximum);

/// Kinds of digits for RandomDigits.
enum RandomDigitKind { kAnyDigit = 0, kOddDigit = 1, kEvenDigit = 2 };
/// `count` decimal digits (leading zeros included); kind 1 only odd, 2 only even digits.
std::string RandomDigits(int count, int kind = kAnyDigit);

/// A 16-digit log id: four digits from 1000-9999, eight random digits, four more from 1000-9999.
std::string NewLogId();

}  // namespace pansift
