// Entry point: lock, first pass, banner, second pass, and every path out
// through ExitTool.
#include "cmdline.h"
#include "console.h"
#include "globals.h"
#include "instance_lock.h"
#include "variable_commands.h"

#include <windows.h>

#include <cstdio>

// The help switch is "?": a runtime that expanded wildcards would turn it into
// any one-character file name of the working folder. This definition pins
// the MinGW-w64 runtime's choice off, whatever its default.
extern "C"
{
    int _dowildcard = 0;
}

namespace
{

uint8_t* AllocNameBlock(void** phMem)
{
    HGLOBAL hMem = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kNameBlockSize);
    if (!hMem)
        return nullptr;
    // Stays locked for the run; the end of the process releases it.
    void* pBuf = GlobalLock(hMem);
    if (!pBuf)
    {
        GlobalFree(hMem);
        return nullptr;
    }
    *phMem = hMem;
    return static_cast<uint8_t*>(pBuf);
}

} // namespace

int main(int argc, char** argv)
{
    if (!AcquireInstanceLock())
    {
        printf("ARDENTIS: Another process running.");
        ExitTool(255);
    }

    if (argc > 1)
    {
        switch (RunFirstPass(argc, argv, g_ToolSettings, AllocNameBlock))
        {
            case FirstPassResult::Ok:
                break;
            case FirstPassResult::MissingFileName:
                printf("Please input file name.\n");
                ExitTool(255);
            case FirstPassResult::NameBlockAllocFailed:
                printf("Allocate memory failed.\n");
                ExitTool(255);
        }
    }

    DrawBanner();

    SecondPassAction action = RunSecondPass(argc, argv, g_ToolSettings);
    switch (action.kind)
    {
        case ActionKind::Usage:
            ShowUsage();
        case ActionKind::ActMissing:
            printf("The parameter error\n");
            ExitTool(-1);
        case ActionKind::ActInvalid:
            printf("Please input the correct parameter with -act.\n");
            ExitTool(-1);
        case ActionKind::SetvarMissingArgs:
            printf("The parameter error. Please use /Setvar <offset> <data>.\n");
            ExitTool(255);
        case ActionKind::Setvar:
            printf("Offset = %04X, Data = %02X\n", static_cast<unsigned>(action.nOffset),
                   action.bData);
            ExitTool(SetVariableByte(action.nOffset, action.bData) ? 0 : 255);
        case ActionKind::GetvarMissingFile:
            printf("The parameter error. Please use /Getvar <filename>.\n");
            ExitTool(255);
        case ActionKind::Getvar:
            ExitTool(DumpVariableToFile(action.pszFile) ? 0 : 255);
        case ActionKind::Delvar:
            ExitTool(DeleteVariable() ? 0 : 255);
    }
    ExitTool(255);
}
