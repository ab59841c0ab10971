// Arbitrary argument vectors through both passes of the command line: no
// field may be overrun, every pointer must point into the arguments.
#include "driver/cmdline.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

uint8_t g_abNameBlock[kNameBlockSize];

uint8_t* NameBlock(void** phMem)
{
    memset(g_abNameBlock, 0, sizeof g_abNameBlock);
    *phMem = g_abNameBlock;
    return g_abNameBlock;
}

void Check(bool blCondition)
{
    if (!blCondition)
        abort();
}

bool Terminated(const char* pszField, size_t cchField)
{
    return memchr(pszField, '\0', cchField) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pbData, size_t cbData)
{
    // Arguments are separated by NUL bytes.
    std::vector<std::string> texts = {"Ardentis64.exe"};
    std::string current;
    for (size_t i = 0; i < cbData && texts.size() < 64; ++i)
    {
        if (pbData[i] == 0)
        {
            texts.push_back(current);
            current.clear();
        }
        else
            current += static_cast<char>(pbData[i]);
    }
    texts.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& text : texts)
        argv.push_back(text.c_str());
    int argc = static_cast<int>(argv.size());

    ToolSettings settings;
    FirstPassResult result = RunFirstPass(argc, argv.data(), settings, NameBlock);
    Check(Terminated(settings.szDefFile, sizeof settings.szDefFile));
    Check(Terminated(settings.szSecurityBootFile, sizeof settings.szSecurityBootFile));
    Check(Terminated(settings.szSearchString, sizeof settings.szSearchString));
    Check(Terminated(settings.szGuidText, sizeof settings.szGuidText));
    Check(settings.wGuidTextLen < kGuidTextField);
    // The name block is counted: full at 1024 characters, zero-filled after a shorter name.
    Check(settings.wNameLen <= kNameBlockSize);
    Check(!settings.pNameBuf || strnlen(reinterpret_cast<const char*>(settings.pNameBuf),
                                        kNameBlockSize) == settings.wNameLen);
    for (const char* psz : {settings.pszVarName, settings.pszVarGuid})
    {
        bool blInArgs = psz == nullptr;
        for (int i = 1; i < argc; ++i)
            blInArgs = blInArgs || psz == argv[i];
        Check(blInArgs);
    }
    if (result != FirstPassResult::Ok)
        return 0;

    SecondPassAction action = RunSecondPass(argc, argv.data(), settings);
    switch (action.kind)
    {
        case ActionKind::Setvar:
            // At most four characters of text: a sign and three digits, or four digits.
            Check(action.nOffset >= -0xFFF && action.nOffset <= 0xFFFF);
            break;
        case ActionKind::ActInvalid:
            Check(settings.bActPolicy != 0 && settings.bActPolicy != 1 &&
                  settings.bActPolicy != 0xFF);
            break;
        case ActionKind::Getvar:
            Check(action.pszFile != nullptr);
            break;
        default:
            break;
    }
    return 0;
}
