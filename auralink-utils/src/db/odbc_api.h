// The ODBC API. unixODBC brings its own Windows types on Linux; the Windows SDK wants
// windows.h before the ODBC headers.
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
