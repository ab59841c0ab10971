// The three variable commands and the steps they share. Each command reads
// the variable's name and GUID from g_ToolSettings.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kVariableWorkBufferSize = 4194304; // 4 MiB: the largest variable read

struct VariableCopy
{
    uint8_t* pbData = nullptr; // exactly dwSize bytes, malloc'ed; the caller frees it
    uint32_t dwSize = 0;
};

bool IsLegacyBiosBoot();
void EnableFirmwareVariablePrivilege();
// One call into a 4 MiB working buffer, then an exact-size copy. False (with
// the OS error already printed) when the variable cannot be read.
bool ReadFirmwareVariable(const char* pszName, const char* pszGuid, VariableCopy* pCopy);
// The same read without a word on standard output, for front ends that speak
// for themselves: false with *pdwError the OS error code (8, not enough
// memory, when a buffer could not be had).
bool ReadFirmwareVariableQuiet(const char* pszName, const char* pszGuid, VariableCopy* pCopy,
                               uint32_t* pdwError);
// Writes cbData bytes as the variable's new value (0 deletes it): false with
// *pdwError the OS error code.
bool WriteFirmwareVariable(const char* pszName, const char* pszGuid, const uint8_t* pbData,
                           uint32_t cbData, uint32_t* pdwError);

bool SetVariableByte(int32_t nOffset, uint8_t bData);
bool DumpVariableToFile(const char* pszFileName); // ends the run if the file cannot be opened
bool DeleteVariable();

// Where the dump's formatting buffer comes from (malloc); tests make it fail to
// see the dump written without one.
extern void* (*g_pfnAllocDumpText)(size_t cb);
