// Reading a catalogue file in tests through a connection of its own, so the checks
// do not depend on the code under test.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace pansift::testing {

using Rows = std::vector<std::vector<std::string>>;

/// The rows `sql` gives on the file at `path`: UTF-8 values, NULL as "<null>"; none
/// when the file cannot be opened or the statement fails.
inline Rows CatalogueRows(const std::string& path,
                          const std::string& sql = "select * from list order by id") {
  Rows out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
      while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
          const unsigned char* t = sqlite3_column_text(st, i);
          row.push_back(t ? reinterpret_cast<const char*>(t) : "<null>");
        }
        out.push_back(row);
      }
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

}  // namespace pansift::testing
