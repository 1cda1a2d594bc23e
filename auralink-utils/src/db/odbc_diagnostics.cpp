#include "db/odbc_diagnostics.h"

#include "db/odbc_api.h"

#include <cstdio>

namespace auralink::db {

OdbcDiagnostics ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, SQLRETURN rc) {
  OdbcDiagnostics result;
  if (handle != SQL_NULL_HANDLE) {
    for (SQLSMALLINT record = 1;; ++record) {
      SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
      SQLINTEGER native = 0;
      SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
      SQLSMALLINT length = 0;
      SQLRETURN got = SQLGetDiagRec(handleType, handle, record, state, &native, message, sizeof message, &length);
      if (!SQL_SUCCEEDED(got)) break;
      char head[64];
      std::snprintf(head, sizeof head, "SQLSTATE %s (native %d): ", reinterpret_cast<const char*>(state),
                    static_cast<int>(native));
      if (!result.text.empty()) result.text += "; ";
      result.text += head;
      result.text += reinterpret_cast<const char*>(message);
      if (state[0] == '0' && state[1] == '8') result.linkLost = true;
    }
  }
  if (result.text.empty()) {
    result.text =
        rc == SQL_INVALID_HANDLE ? "SQL_INVALID_HANDLE (no diagnostics)" : "SQL_ERROR without diagnostic records";
  }
  return result;
}

}  // namespace auralink::db
