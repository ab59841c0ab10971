// A simulated UEFI variable store behind the firmware-variable seam: what the
// OS calls would do on a UEFI machine, kept as files in a folder.
//
// The folder is named by ARDENTIS_SIM_EFIVARS; one file per variable, named
// "<Name>-<guid>" (names escaped and kept case-sensitive as efivar_names.h
// describes), holding a 4-byte little-endian attribute word and then the
// variable's bytes (the layout of Linux efivarfs). Without the folder the
// machine is a legacy-BIOS one. Each call is judged in the order GUID text,
// legacy, privilege, name, then the variable. A variable without runtime
// access (no bit 0x4) is invisible to reads. A write or delete of an existing
// variable keeps UEFI's attribute rules: volatile (no bit 0x1) refused with
// 19, attributes other than those the write asks for (the plain call asks 7)
// with 87, and so are attributes firmware takes in no run-time write (without
// run-time access, an authenticated write, any bit above 0x8): the file is
// left as it was.
// ARDENTIS_SIM_IGNORE_WRITES set (to anything) makes every write that passes
// those checks report success and leave the variable's file untouched;
// deletes are not affected.
#pragma once

#include <windows.h>

constexpr const char* kSimStoreEnvVar = "ARDENTIS_SIM_EFIVARS";
constexpr const char* kSimIgnoreWritesEnvVar = "ARDENTIS_SIM_IGNORE_WRITES";
constexpr DWORD kSimWriteAttributes = 0x00000007; // non-volatile, boot and runtime access
constexpr DWORD kNonVolatileBit = 0x00000001;
constexpr DWORD kRuntimeAccessBit = 0x00000004; // without it: boot services only
// A variable file shorter than its attribute word: neither read nor changed.
constexpr DWORD kSimShortFileError = ERROR_FILE_CORRUPT; // 1392

DWORD WINAPI SimGetFirmwareEnvironmentVariableA(LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer,
                                                DWORD nSize);
// The same read, and the variable's attribute word into *pdwAttributes.
DWORD WINAPI SimGetFirmwareEnvironmentVariableExA(LPCSTR lpName, LPCSTR lpGuid, PVOID pBuffer,
                                                  DWORD nSize, PDWORD pdwAttributes);
BOOL WINAPI SimSetFirmwareEnvironmentVariableA(LPCSTR lpName, LPCSTR lpGuid, PVOID pValue,
                                               DWORD nSize);
// The same with the attributes given, as the Ex call takes them; a new
// variable gets them as its attribute word.
BOOL WINAPI SimSetFirmwareEnvironmentVariableExA(LPCSTR lpName, LPCSTR lpGuid, PVOID pValue,
                                                 DWORD nSize, DWORD dwAttributes);
