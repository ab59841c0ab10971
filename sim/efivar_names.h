// Naming rules of the simulated variable store (pure: also builds natively).
#pragma once

#include <string>

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with hex digits of either case.
bool IsBracedGuid(const char* pszGuid);
bool IsZeroGuid(const char* pszGuid); // a braced GUID of all zeros

// A name the store can keep as a file name: no path separators, no
// characters Windows forbids in file names, nothing that could leave the
// store's folder.
bool IsStorableName(const char* pszName);

// "<Name>-<guid>": the GUID in lower case without braces, as Linux efivarfs
// names its files.
std::string VariableFileName(const char* pszName, const char* pszGuid);
