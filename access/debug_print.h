// Debug output of the access library. The stream is read through the owner's
// stream variable at every call, so the owner may reopen or change it while
// the access object lives.
#pragma once

#include <cstddef>
#include <cstdio>

#if defined(__MINGW32__)
#define ARDENTIS_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define ARDENTIS_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// Writes "<build date> <build time>: " and the formatted text, then flushes.
// A text longer than 511 characters, a formatting error or a null stream
// write nothing at all.
void DebugPrint(FILE** ppLogFile, const char* pszFormat, ...) ARDENTIS_PRINTF(2, 3);

// Writes raw bytes, then "\n", without the prefix, and flushes; nothing when
// no stream is open.
void DebugDump(FILE** ppLogFile, const void* pData, size_t cbData);
