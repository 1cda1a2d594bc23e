// The dialect bridge for SQLite data sources. The repository's queries are written for SQL
// Server and convert between binary identifiers and their text form with CONVERT, which
// SQLite lacks; Auralink's SQLite dialect module provides the same conversions as functions.
#pragma once
#include <string>
#include <string_view>

namespace auralink::db {

// Replaces every CONVERT(uniqueidentifier, x) and CONVERT(varbinary[(n)], x) by the
// dialect module's functions, nested ones included, in any letter case and spacing.
// String literals, quoted identifiers and comments are left alone, and so is any other
// CONVERT (another target type, or a style argument), apart from conversions nested in it.
std::string TranslateConvertForSqlite(std::string_view sql);

// True when a driver's DBMS name denotes SQLite.
bool IsSqliteDbms(std::string_view dbmsName);

}  // namespace auralink::db
