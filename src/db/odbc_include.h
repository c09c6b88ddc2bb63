#pragma once

// The ODBC headers, and the one place where they differ by platform: on
// Windows they need the base Windows types declared first.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN  // keeps the old winsock.h out, for files that use winsock2.h
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

// The conversion code assumes 16-bit wide characters (UTF-16 at the driver),
// true for the Windows driver manager and for unixODBC as Debian builds it.
static_assert(sizeof(SQLWCHAR) == 2, "SQLWCHAR must be a 16-bit code unit");
