// Firmware-variable access for every Ardentis program: the legacy-BIOS probe,
// the privilege, a variable read whole, written, deleted, and its dump text
// written to a file. Each call returns what happened (the value, or the OS
// error code); what to print and how to end is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr uint32_t kVariableWorkBufferSize = 4194304; // 4 MiB: the largest variable read

struct VariableCopy
{
    uint8_t* pbData = nullptr; // exactly dwSize bytes, malloc'ed; the caller frees it
    uint32_t dwSize = 0;
    // The variable's attributes, when the read asked for them and the
    // platform gives them (Windows 8 and later).
    bool blHaveAttributes = false;
    uint32_t dwAttributes = 0;
};

// The attribute bits a variable carries (UEFI's EFI_VARIABLE_* values).
constexpr uint32_t kVariableNonVolatile = 0x01;
constexpr uint32_t kVariableBootServiceAccess = 0x02;
constexpr uint32_t kVariableRuntimeAccess = 0x04;
constexpr uint32_t kVariableHardwareErrorRecord = 0x08;
constexpr uint32_t kVariableAuthenticatedWrite = 0x10;
constexpr uint32_t kVariableTimeBasedAuthenticatedWrite = 0x20;
constexpr uint32_t kVariableAppendWrite = 0x40;

// Whether Windows can rewrite a variable of these attributes while it runs:
// firmware takes run-time writes only of non-volatile variables with run-time
// access, and an authenticated one only with a signature the firmware checks.
// Bits this layer does not know are not written either.
constexpr bool IsRewritableAtRunTime(uint32_t dwAttributes)
{
    constexpr uint32_t kKnown = kVariableNonVolatile | kVariableBootServiceAccess |
                                kVariableRuntimeAccess | kVariableHardwareErrorRecord;
    return (dwAttributes & kVariableNonVolatile) && (dwAttributes & kVariableRuntimeAccess) &&
           (dwAttributes & ~kKnown) == 0;
}

bool IsLegacyBiosBoot();
void EnableFirmwareVariablePrivilege();

// *pdwError is the OS's code, or 8 (not enough memory) when a buffer could
// not be had.
enum class VariableRead
{
    Ok,
    NoWorkBuffer, // the 4 MiB working buffer could not be had
    OsError,      // the OS refused
    NoCopy,       // the exact-size copy could not be had
};

// One call into a 4 MiB working buffer, then an exact-size copy into *pCopy.
// With blAttributes the read goes through the call that also returns the
// variable's attributes, where the platform has it.
VariableRead ReadVariable(const char* pszName, const char* pszGuid, bool blAttributes,
                          VariableCopy* pCopy, uint32_t* pdwError);
// Writes cbData bytes as the variable's value through the call that gives it
// the OS's default attributes; 0 bytes delete it. False with *pdwError the OS
// error code.
bool WriteVariable(const char* pszName, const char* pszGuid, const uint8_t* pbData, uint32_t cbData,
                   uint32_t* pdwError);

// Writes the variable with the given attributes, through the call that
// carries them; where the platform lacks that call, through the plain one
// (the OS's default attributes). False with *pdwError the OS error code.
bool WriteVariableWithAttributes(const char* pszName, const char* pszGuid, const uint8_t* pbData,
                                 uint32_t cbData, uint32_t dwAttributes, uint32_t* pdwError);

// Writes the dump text of pbData[0 .. cbData) to pFile (binary, unbuffered
// is best: the text carries its own CR LF) in large chunks, or line by line
// when the chunk buffer cannot be had. False on any write error.
bool WriteDumpText(FILE* pFile, const uint8_t* pbData, size_t cbData);

// Where the dump's chunk buffer comes from (malloc); tests make it fail to
// see the dump written without one.
extern void* (*g_pfnAllocDumpText)(size_t cb);
