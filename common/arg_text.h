// How both programs compare an argument with a command or option name.
// Pure: no Windows types, so it also builds natively.
#pragma once

// Whole-argument comparison that ignores ASCII letter case.
bool ArgIs(const char* pszArg, const char* pszName);
