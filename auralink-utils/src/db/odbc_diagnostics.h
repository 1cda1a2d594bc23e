// The diagnostic records that ODBC keeps on a handle after a call, as one line of text.
#pragma once
// unixODBC brings its own Windows types on Linux; the Windows SDK wants windows.h first.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>

#include <string>

namespace auralink::db {

struct OdbcDiagnostics {
  // "SQLSTATE 42S02 (native 208): message", records joined by "; ".
  std::string text;
  // A record of SQLSTATE class 08 (connection exception): the link to the data source is gone.
  bool linkLost = false;
};

// Reads every record of `handle`; `rc` is the failed call's result, named when the driver
// left no record.
OdbcDiagnostics ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc);

}  // namespace auralink::db
