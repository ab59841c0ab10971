// Test fixture: an EDABBlock filled the way an owner fills it, over the
// virtual BIOS's hardware access DLL, with its debug stream in a file.
#pragma once

#include "access/edab_block.h"
#include "sim/vbios/vbios_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

template <typename T> T Proc(HMODULE hModule, const char* pszName)
{
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(hModule, pszName)));
}

// The DLL beside the test executable.
std::string VbiosPath();

// Fills the entry points of an EDABBlock from a loaded hardware access DLL.
void FillEntryPoints(EDABBlock& block, HMODULE hLib);

std::string FileContents(FILE* pFile);

class VirtualBios : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Control of the virtual BIOS.
    PFN_VB_RESET VbReset = nullptr;
    PFN_VB_SET_KNOB VbSetKnob = nullptr;
    PFN_VB_GET_KNOB VbGetKnob = nullptr;
    PFN_VB_SET_LAYOUT VbSetLayout = nullptr;
    PFN_VB_GET_LAYOUT VbGetLayout = nullptr;
    PFN_VB_WRITE_SEGMENT VbWriteSegment = nullptr;
    PFN_VB_SET_BLOCK VbSetBlock = nullptr;
    PFN_VB_REMOVE_BLOCK VbRemoveBlock = nullptr;
    PFN_VB_GET_BLOCK VbGetBlock = nullptr;
    PFN_VB_SET_PASSWORD VbSetPassword = nullptr;
    PFN_VB_ADD_FINI_PATCH VbAddFiniPatch = nullptr;
    PFN_VB_SET_OEM_DATA VbSetOemData = nullptr;
    PFN_VB_GET_OEM_DATA VbGetOemData = nullptr;
    PFN_VB_EVENT_COUNT VbEventCount = nullptr;
    PFN_VB_GET_EVENT VbGetEvent = nullptr;
    PFN_VB_CLEAR_EVENTS VbClearEvents = nullptr;

    std::vector<VbEvent> Events() const;
    std::vector<VbEvent> Events(uint32_t dwKind) const;
    // The firmware functions received, as "FLSH1 FLSH0 ECSR1 FINI FEBR ...";
    // with blBuffers also "alloc", "free" and "free!" (refused) in between.
    std::string Trace(bool blBuffers = false) const;
    // The last call of function bFunction (with word parameter wParam when it
    // is not -1); dwKind 0 when there was none.
    VbEvent LastCall(uint8_t bFunction, int nParam = -1) const;
    std::vector<uint8_t> Block(uint32_t dwBlock) const;
    VbLayout Layout() const;
    // Debug output so far.
    std::string Log() const { return FileContents(m_pLog); }

    HMODULE m_hVbios = nullptr;
    EDABBlock m_block; // owns its own reference to the DLL, like an owner's
    FILE* m_pLog = nullptr;
};
