// A second connection to a catalogue file that holds it locked, for the tests of
// what the task does when the catalogue keeps failing.
#pragma once

#include <sqlite3.h>

#include <string>

namespace pansift::testing {

/// Another program holding a catalogue file in an exclusive transaction: every
/// write of the task's connection meets SQLITE_BUSY while it lasts. Reads go on:
/// the catalogue writes through a log.
class LockedByAnotherProgram {
 public:
  explicit LockedByAnotherProgram(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &other_, SQLITE_OPEN_READWRITE, nullptr);
    locked_ = sqlite3_exec(other_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  LockedByAnotherProgram(const LockedByAnotherProgram&) = delete;
  LockedByAnotherProgram& operator=(const LockedByAnotherProgram&) = delete;
  ~LockedByAnotherProgram() {
    unlock();
    sqlite3_close(other_);
  }
  bool locked() const { return locked_; }
  void unlock() {
    if (locked_) sqlite3_exec(other_, "ROLLBACK", nullptr, nullptr, nullptr);
    locked_ = false;
  }

 private:
  sqlite3* other_ = nullptr;
  bool locked_ = false;
};

}  // namespace pansift::testing
