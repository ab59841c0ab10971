#include "cmdline.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace
{

// Copies a value into a fixed text field; longer values are cut to fit so no
// field is ever overrun.
void CopyField(char* pszDest, size_t cchDest, const char* pszValue)
{
    size_t cch = strlen(pszValue);
    if (cch >= cchDest)
        cch = cchDest - 1;
    memcpy(pszDest, pszValue, cch);
    pszDest[cch] = '\0';
}

bool IsAnyOf(const char* pszArg, std::initializer_list<const char*> names)
{
    for (const char* pszName : names)
        if (ArgIs(pszArg, pszName))
            return true;
    return false;
}

int HexDigit(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// atoi without its undefined behaviour on overflow: out-of-range values clamp.
int32_t ReadDecimal(const char* pszText)
{
    long lValue = strtol(pszText, nullptr, 10);
    if (lValue > INT32_MAX)
        return INT32_MAX;
    if (lValue < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(lValue);
}

} // namespace

uint8_t HexDigitValue(char ch)
{
    if (ch >= '1' && ch <= '9')
        return static_cast<uint8_t>(ch - '0');
    if (ch >= 'A' && ch <= 'F')
        return static_cast<uint8_t>(ch - 'A' + 10);
    return 0;
}

bool ScanHex(const char* pszText, unsigned nWidth, uint32_t* pdwValue)
{
    const char* p = pszText;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    unsigned nLeft = nWidth == 0 ? UINT_MAX : nWidth;
    bool blNegative = false;
    if (nLeft > 0 && (*p == '+' || *p == '-'))
    {
        blNegative = *p == '-';
        ++p;
        --nLeft;
    }
    // A "0x" prefix counts towards the width; its '0' alone is a valid number.
    bool blDigits = false;
    if (nLeft > 0 && *p == '0')
    {
        blDigits = true;
        ++p;
        --nLeft;
        if (nLeft > 0 && (*p == 'x' || *p == 'X'))
        {
            ++p;
            --nLeft;
        }
    }
    uint32_t dwValue = 0;
    for (; nLeft > 0 && HexDigit(*p) >= 0; ++p, --nLeft)
    {
        dwValue = dwValue * 16u + static_cast<uint32_t>(HexDigit(*p));
        blDigits = true;
    }
    if (!blDigits)
        return false;
    *pdwValue = blNegative ? 0u - dwValue : dwValue;
    return true;
}

void StoreNameBlock(ToolSettings& settings, const char* pszValue)
{
    // The block is a counted buffer (wNameLen): a name of exactly 1024
    // characters fills it without a terminator; only longer ones are cut.
    size_t cch = strlen(pszValue);
    if (cch > kNameBlockSize)
        cch = kNameBlockSize;
    settings.wNameLen = static_cast<uint16_t>(cch);
    memcpy(settings.pNameBuf, pszValue, cch);
}

void ConvertGuidText(ToolSettings& settings, const char* pszValue)
{
    settings.blGuidBytes = true;
    char* pszText = settings.szGuidText;
    size_t cchValue = strlen(pszValue);
    if (cchValue % 2 != 0)
    {
        pszText[0] = '0';
        CopyField(pszText + 1, kGuidTextField - 1, pszValue);
    }
    else
    {
        CopyField(pszText, kGuidTextField, pszValue);
    }
    size_t cchText = strlen(pszText);
    settings.wGuidTextLen = static_cast<uint16_t>(cchText);
    for (size_t k = 0; k < cchText; ++k)
        pszText[k] = static_cast<char>(toupper(static_cast<unsigned char>(pszText[k])));
    // A text cut to an odd length pairs its last digit with the terminator.
    for (size_t k = 0; k < cchText; k += 2)
        settings.abGuid[k / 2] =
            static_cast<uint8_t>(HexDigitValue(pszText[k]) * 16 + HexDigitValue(pszText[k + 1]));
}

FirstPassResult RunFirstPass(int argc, const char* const* argv, ToolSettings& settings,
                             NameBlockAllocator pfnAllocNameBlock)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* pszArg = argv[i];
        const char* pszValue = i + 1 < argc ? argv[i + 1] : nullptr;

        if (IsAnyOf(pszArg, {"$$", "/GPIOR", "/DEF", "/RVD", "/BOS", "/PXE", "/LCMD", "-pwmi",
                             "-set", "-get"}))
            continue;
        if (ArgIs(pszArg, "-retry"))
        {
            if (pszValue)
                settings.nRetry = ReadDecimal(pszValue);
        }
        else if (ArgIs(pszArg, "-uefi"))
            settings.blUefi = true;
        else if (ArgIs(pszArg, "-usevar"))
            settings.blUseVar = true;
        else if (ArgIs(pszArg, "-readbootorder"))
            settings.blReadBootOrder = true;
        else if (IsAnyOf(pszArg, {"-savedef", "-save", "-loaddef", "-load"}))
        {
            if (!pszValue)
                return FirstPassResult::MissingFileName;
            CopyField(settings.szDefFile, sizeof settings.szDefFile, pszValue);
            settings.dwDefMode = ArgIs(pszArg, "-savedef") || ArgIs(pszArg, "-save") ? 1 : 2;
        }
        else if (ArgIs(pszArg, "-securityboot"))
        {
            if (!pszValue)
                return FirstPassResult::MissingFileName;
            settings.blSecurityBoot = true;
            CopyField(settings.szSecurityBootFile, sizeof settings.szSecurityBootFile, pszValue);
        }
        else if (ArgIs(pszArg, "-debug"))
            settings.blDebugOption = true;
        else if (ArgIs(pszArg, "-name"))
        {
            if (!pszValue)
                continue; // nothing to name: the option is ignored
            if (settings.blUefi)
            {
                settings.pszVarName = pszValue;
                continue;
            }
            settings.blNameBuffer = true;
            void* hMem = nullptr;
            uint8_t* pBuf = pfnAllocNameBlock(&hMem);
            if (!pBuf)
                return FirstPassResult::NameBlockAllocFailed;
            settings.hNameMem = hMem;
            settings.pNameBuf = pBuf;
            StoreNameBlock(settings, pszValue);
        }
        else if (ArgIs(pszArg, "-guid"))
        {
            if (!pszValue)
                continue;
            if (settings.blUefi)
                settings.pszVarGuid = pszValue;
            else
                ConvertGuidText(settings, pszValue);
        }
        else if (ArgIs(pszArg, "-searchstring"))
        {
            if (pszValue)
            {
                CopyField(settings.szSearchString, sizeof settings.szSearchString, pszValue);
                settings.blSearchString = true;
            }
        }
        else if (ArgIs(pszArg, "-setvalue"))
        {
            if (pszValue)
                settings.dwSetValue = static_cast<uint32_t>(strtoul(pszValue, nullptr, 16));
        }
        else if (ArgIs(pszArg, "-offset"))
        {
            if (pszValue)
                settings.dwOffset = static_cast<uint32_t>(strtoul(pszValue, nullptr, 16));
        }
    }
    return FirstPassResult::Ok;
}

SecondPassAction RunSecondPass(int argc, const char* const* argv, ToolSettings& settings)
{
    SecondPassAction action;
    for (int i = 1; i < argc; ++i)
    {
        const char* pszArg = argv[i];
        if (IsAnyOf(pszArg, {"?", "/?", "/h", "/help"}))
        {
            action.kind = ActionKind::Usage;
            return action;
        }
        if (IsAnyOf(pszArg, {"-act", "-policy"}))
        {
            if (i + 1 >= argc)
            {
                action.kind = ActionKind::ActMissing;
                return action;
            }
            uint32_t dwValue = 0;
            if (ScanHex(argv[i + 1], 0, &dwValue))
                settings.bActPolicy = static_cast<uint8_t>(dwValue);
            if (settings.bActPolicy != 0x00 && settings.bActPolicy != 0x01 &&
                settings.bActPolicy != 0xFF)
            {
                action.kind = ActionKind::ActInvalid;
                return action;
            }
            continue; // the value is looked at in its own turn
        }
        if (ArgIs(pszArg, "/Setvar"))
        {
            if (i + 2 >= argc)
            {
                action.kind = ActionKind::SetvarMissingArgs;
                return action;
            }
            uint32_t dwOffset = 0;
            uint32_t dwData = 0;
            ScanHex(argv[i + 1], 4, &dwOffset);
            ScanHex(argv[i + 2], 2, &dwData);
            action.kind = ActionKind::Setvar;
            action.nOffset = static_cast<int32_t>(dwOffset);
            action.bData = static_cast<uint8_t>(dwData);
            return action;
        }
        if (ArgIs(pszArg, "/Getvar"))
        {
            if (i + 1 >= argc)
            {
                action.kind = ActionKind::GetvarMissingFile;
                return action;
            }
            action.kind = ActionKind::Getvar;
            action.pszFile = argv[i + 1];
            return action;
        }
        if (ArgIs(pszArg, "/Delvar"))
        {
            action.kind = ActionKind::Delvar;
            return action;
        }
    }
    action.kind = ActionKind::Usage;
    return action;
}
