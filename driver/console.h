// The console screen, the usage text and the one exit routine.
#pragma once

#include <cstdint>

// printf-style text straight to the console device, so it shows on the screen
// even when standard output is redirected. Failures (no console) are ignored.
// Checked as GNU printf formats, because console.cpp formats with MinGW's
// GNU-conforming formatter by name; plain printf checking would apply the
// Microsoft rules to %lu, %zu and %llX.
void ConsolePrintf(const char* pszFormat, ...) __attribute__((format(gnu_printf, 1, 2)));

void DrawBanner();
[[noreturn]] void ShowUsage();

// Releases g_pBlock and the mutex. The part of ExitTool that does not end the
// process.
void ReleaseRunResources();
[[noreturn]] void ExitTool(int32_t nCode);

// The program's file name as the usage text shows it.
const char* ProgramFileName();
