// Naming rules of the simulated variable store (pure: also builds natively).
//
// A variable's file is "<encoded name>-<guid>", the GUID in lower case without
// braces, as Linux efivarfs names its files. The encoded name is the name
// itself, except that every byte a Windows file name cannot hold or that the
// scheme reserves is written "%XX" (two upper-case hex digits): control
// characters 0x00-0x1F, 0x7F, bytes 0x80-0xFF, and \ / : * ? " < > | % ^.
// So "Setup" is stored as "Setup-ec87d643-...", exactly as efivarfs has it,
// and "A/B" as "A%2FB-...".
//
// UEFI names are case-sensitive, file names on Windows are not: "Setup" and
// "SETUP" would share one file. The plain form above is kept for the first of
// such names; a name whose plain file is held by a name differing only in case
// uses the case-safe form instead: "^", then the encoded name with every
// upper-case letter A-Z written "^A" and every other letter in lower case
// ("SETUP" -> "^^S^E^T^U^P", "setup" -> "^setup"). Its letters' case is
// carried by the markers, so two case-safe names never meet on a
// case-insensitive file system, and since the plain form escapes "^" it never
// meets a plain one either. The store decides between the two forms; both
// decode back to the exact name.
#pragma once

#include <string>

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" with hex digits of either case.
bool IsBracedGuid(const char* pszGuid);

// The efivarfs-style file name: plain encoded name, '-', lower-case GUID.
std::string VariableFileName(const char* pszName, const char* pszGuid);

// The same with the case-safe encoded name.
std::string CaseSafeVariableFileName(const char* pszName, const char* pszGuid);

// The inverse of both: the exact name and the lower-case GUID (without
// braces) of a file name in either form. False for anything the two functions
// above cannot have produced.
bool ParseVariableFileName(const std::string& fileName, std::string* pName, std::string* pGuid);
