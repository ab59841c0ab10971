// Debug output of the access library. The stream is read through the owner's
// stream variable at every call, so the owner may reopen or change it while
// the access object lives.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// The formats are checked as the formatter reads them: on MinGW
// debug_print.cpp formats with the GNU-conforming printf family, so %lu, %zu
// and %llX mean what they mean in C99 and are checked as such.
#if defined(__MINGW32__)
#define ARDENTIS_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define ARDENTIS_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// Writes "<build date> <build time>: " and the formatted text, then flushes.
// A text longer than 511 characters, a formatting error or a null stream
// write nothing at all.
void DebugPrint(FILE** ppLogFile, const char* pszFormat, ...) ARDENTIS_PRINTF(2, 3);
// The same with the arguments of a caller's own checked variadic function.
void VDebugPrint(FILE** ppLogFile, const char* pszFormat, va_list args) ARDENTIS_PRINTF(2, 0);

// Writes raw bytes, then "\n", without the prefix, and flushes; nothing when
// no stream is open.
void DebugDump(FILE** ppLogFile, const void* pData, size_t cbData);
