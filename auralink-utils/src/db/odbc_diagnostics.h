// The diagnostic records that ODBC keeps on a handle after a call, as one line of text.
#pragma once
#include "db/odbc_api.h"

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
