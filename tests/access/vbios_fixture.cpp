#include "vbios_fixture.h"

#include <cstdio>

std::string VbiosPath()
{
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(nullptr, szPath, MAX_PATH);
    std::string strPath(szPath, cch);
    return strPath.substr(0, strPath.find_last_of("\\/") + 1) + "ardvbios.dll";
}

void FillEntryPoints(EDABBlock& block, HMODULE hLib)
{
    block.pfnIoWriteByte = Proc<PFN_IO_WRITE_BYTE>(hLib, HW_ACCESS_NAME_IO_WRITE_BYTE);
    block.pfnMemReadByte = Proc<PFN_MEM_READ_BYTE>(hLib, HW_ACCESS_NAME_MEM_READ_BYTE);
    block.pfnMemReadWord = Proc<PFN_MEM_READ_WORD>(hLib, HW_ACCESS_NAME_MEM_READ_WORD);
    block.pfnMemReadDword = Proc<PFN_MEM_READ_DWORD>(hLib, HW_ACCESS_NAME_MEM_READ_DWORD);
    block.pfnMemWriteByte = Proc<PFN_MEM_WRITE_BYTE>(hLib, HW_ACCESS_NAME_MEM_WRITE_BYTE);
    block.pfnMemWriteWord = Proc<PFN_MEM_WRITE_WORD>(hLib, HW_ACCESS_NAME_MEM_WRITE_WORD);
    block.pfnMemWriteDword = Proc<PFN_MEM_WRITE_DWORD>(hLib, HW_ACCESS_NAME_MEM_WRITE_DWORD);
    block.pfnMapPhysMem = Proc<PFN_MAP_PHYS_MEM>(hLib, HW_ACCESS_NAME_MAP_PHYS_MEM);
    block.pfnUnmapPhysMem = Proc<PFN_UNMAP_PHYS_MEM>(hLib, HW_ACCESS_NAME_UNMAP_PHYS_MEM);
    block.pfnAllocPhysBuf = Proc<PFN_ALLOC_PHYS_BUF>(hLib, HW_ACCESS_NAME_ALLOC_PHYS_BUF);
    block.pfnFreePhysBuf = Proc<PFN_FREE_PHYS_BUF>(hLib, HW_ACCESS_NAME_FREE_PHYS_BUF);
}

std::string FileContents(FILE* pFile)
{
    fflush(pFile);
    long nSaved = ftell(pFile);
    std::string text;
    rewind(pFile);
    int c;
    while ((c = fgetc(pFile)) != EOF)
        text += static_cast<char>(c);
    fseek(pFile, nSaved, SEEK_SET);
    return text;
}

void VirtualBios::SetUp()
{
    m_hVbios = LoadLibraryA(VbiosPath().c_str());
    ASSERT_NE(nullptr, m_hVbios) << VbiosPath() << " error " << GetLastError();
#define VB_PROC(name)                                                                              \
    name = Proc<decltype(name)>(m_hVbios, #name);                                                  \
    ASSERT_NE(nullptr, name)
    VB_PROC(VbReset);
    VB_PROC(VbSetKnob);
    VB_PROC(VbGetKnob);
    VB_PROC(VbSetLayout);
    VB_PROC(VbGetLayout);
    VB_PROC(VbWriteSegment);
    VB_PROC(VbSetBlock);
    VB_PROC(VbRemoveBlock);
    VB_PROC(VbGetBlock);
    VB_PROC(VbSetPassword);
    VB_PROC(VbAddFiniPatch);
    VB_PROC(VbSetOemData);
    VB_PROC(VbGetOemData);
    VB_PROC(VbEventCount);
    VB_PROC(VbGetEvent);
    VB_PROC(VbClearEvents);
#undef VB_PROC
    VbReset();

    m_block.hAccessLib = LoadLibraryA(VbiosPath().c_str());
    FillEntryPoints(m_block, m_block.hAccessLib);
    m_pLog = tmpfile();
    ASSERT_NE(nullptr, m_pLog);
    m_block.ppLogFile = &m_pLog;
}

void VirtualBios::TearDown()
{
    if (m_pLog)
        fclose(m_pLog);
    m_pLog = nullptr;
    if (m_hVbios)
        FreeLibrary(m_hVbios);
}

std::vector<VbEvent> VirtualBios::Events() const
{
    std::vector<VbEvent> events(VbEventCount());
    for (uint32_t i = 0; i < events.size(); ++i)
        VbGetEvent(i, &events[i]);
    return events;
}

std::vector<VbEvent> VirtualBios::Events(uint32_t dwKind) const
{
    std::vector<VbEvent> events;
    for (const VbEvent& ev : Events())
        if (ev.dwKind == dwKind)
            events.push_back(ev);
    return events;
}

std::string VirtualBios::Trace(bool blBuffers) const
{
    std::string strTrace;
    auto add = [&](const std::string& str) { strTrace += (strTrace.empty() ? "" : " ") + str; };
    for (const VbEvent& ev : Events())
    {
        if (ev.dwKind == VBEV_CALL)
        {
            switch (ev.dwA)
            {
                case 0:
                    add("FLSH" + std::to_string(ev.dwB));
                    break;
                case 1:
                    add("FINI");
                    break;
                case 4:
                    add("FEBW");
                    break;
                case 5:
                    add("FEBR");
                    break;
                case 6:
                    add("FEDW");
                    break;
                case 7:
                    add("ECSR" + std::to_string(ev.dwB));
                    break;
                case 8:
                    add("FLSC" + std::to_string(ev.dwB));
                    break;
                case 0x81:
                    add("OEMD" + std::to_string(ev.dwB));
                    break;
                default:
                    add("FN" + std::to_string(ev.dwA));
                    break;
            }
        }
        else if (blBuffers && ev.dwKind == VBEV_ALLOC)
            add("alloc");
        else if (blBuffers && ev.dwKind == VBEV_FREE)
            add(ev.dwB ? "free" : "free!");
    }
    return strTrace;
}

VbEvent VirtualBios::LastCall(uint8_t bFunction, int nParam) const
{
    VbEvent found = {};
    for (const VbEvent& ev : Events(VBEV_CALL))
        if (ev.dwA == bFunction && (nParam < 0 || ev.dwB == static_cast<uint32_t>(nParam)))
            found = ev;
    return found;
}

std::vector<uint8_t> VirtualBios::Block(uint32_t dwBlock) const
{
    std::vector<uint8_t> data(8192);
    uint32_t cb = VbGetBlock(dwBlock, data.data(), static_cast<uint32_t>(data.size()));
    data.resize(cb == 0xFFFFFFFF ? 0 : cb);
    return data;
}

VbLayout VirtualBios::Layout() const
{
    VbLayout layout;
    VbGetLayout(&layout);
    return layout;
}
