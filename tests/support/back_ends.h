// Tests that run once per HTTP back end: the parameter values and their names.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "net/http.h"

namespace pansift::testing {

inline const auto kBothBackEnds = ::testing::Values(Transport::Platform, Transport::Curl);

inline std::string BackEndName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::Curl ? "Curl" : "Platform";
}

}  // namespace pansift::testing
