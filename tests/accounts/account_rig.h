// The account tests' common ground: a record from UTF-8 texts, and a fixture with
// the shared record, an empty list and the window's form, on a headless platform.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "support/app_rig.h"
#include "util/codepage.h"

namespace pansift {

inline void PrintTo(const AccountRecord& row, std::ostream* out) {
  *out << ::testing::PrintToString(row.userName) << " " << ::testing::PrintToString(row.cookies)
       << " " << ::testing::PrintToString(row.uk) << " " << ::testing::PrintToString(row.bdstoken);
}

namespace testing {

inline AccountRecord Account(const char* userUtf8, const char* cookies, const char* uk,
                             const char* bdstoken) {
  AccountRecord r;
  r.userName = L8(userUtf8);
  r.cookies = cookies;
  r.uk = uk;
  r.bdstoken = bdstoken;
  return r;
}

class AccountsTest : public ::testing::Test, protected AppRig {
 protected:
  AccountStore store;
  MainForm form;

  std::string file() const { return dir.file("baiduset.ini"); }
  std::vector<std::string> promptTexts() const {
    std::vector<std::string> texts;
    for (const RecordedPrompt& p : platform.prompts()) texts.push_back(p.text);
    return texts;
  }
};

}  // namespace testing
}  // namespace pansift
