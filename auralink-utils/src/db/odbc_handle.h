// Owner of one ODBC handle (environment, connection or statement): the handle is freed
// when the owner goes, on every path. A connection handle is freed only after it has been
// disconnected; OdbcConnection sees to that.
#pragma once
#include "db/odbc_api.h"

#include <utility>

namespace auralink::db {

class OdbcHandle {
 public:
  OdbcHandle() = default;
  ~OdbcHandle() { Reset(); }
  OdbcHandle(OdbcHandle&& other) noexcept : type_(other.type_), handle_(std::exchange(other.handle_, nullptr)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      type_ = other.type_;
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  // Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an environment),
  // freeing whatever this owner held.
  SQLRETURN Allocate(SQLSMALLINT type, SQLHANDLE parent) {
    Reset();
    type_ = type;
    SQLRETURN rc = SQLAllocHandle(type, parent, &handle_);
    if (!SQL_SUCCEEDED(rc)) handle_ = nullptr;
    return rc;
  }

  void Reset() {
    if (handle_ != nullptr) SQLFreeHandle(type_, handle_);
    handle_ = nullptr;
  }

  SQLHANDLE Get() const { return handle_; }
  SQLSMALLINT Type() const { return type_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SQLSMALLINT type_ = SQL_HANDLE_ENV;
  SQLHANDLE handle_ = nullptr;
};

}  // namespace auralink::db
