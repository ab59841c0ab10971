// The settings of one command line, filled by the first pass and read by the
// commands. Pure data: no Windows types, so the scanner also builds natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kFileNameField = 80;   // szDefFile, szSecurityBootFile, szSearchString
constexpr size_t kGuidTextField = 256;  // szGuidText, terminator included
constexpr size_t kGuidBytesField = 512; // abGuid; at most 128 bytes are ever used
constexpr size_t kNameBlockSize = 1024; // the "-name" block without "-uefi"

struct ToolSettings
{
    int32_t nRetry = 5;
    bool blSearchString = false;
    char szSearchString[kFileNameField] = {};
    uint8_t bActPolicy = 0;
    bool blUefi = false;
    bool blReadBootOrder = false;
    char szDefFile[kFileNameField] = {};
    uint32_t dwDefMode = 0;
    char szSecurityBootFile[kFileNameField] = {};
    bool blSecurityBoot = false;
    bool blUseVar = false;
    bool blDebugOption = false;
    bool blGuidBytes = false;
    char szGuidText[kGuidTextField] = {};
    uint16_t wGuidTextLen = 0;
    uint8_t abGuid[kGuidBytesField] = {};
    bool blNameBuffer = false;
    void* hNameMem = nullptr; // global memory handle of the name block
    uint8_t* pNameBuf = nullptr;
    uint16_t wNameLen = 0;
    uint32_t dwSetValue = 0;
    uint32_t dwOffset = 0;
    const char* pszVarName = nullptr; // points into argv; nothing is copied
    const char* pszVarGuid = nullptr;
};
