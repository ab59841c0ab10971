// An owner's program over the flash SMI mailbox: loads the hardware access
// DLL named on the command line, reads a flash block, writes it back with one
// byte changed, reads it again and queries the firmware's OEM data store.
// Usage: edab_block_owner <hardware access DLL> [block, default 1]
#include "owner_round_trip.h"

#include <cstdlib>

template <typename T> static T Entry(HMODULE hLib, const char* pszName, bool* pblAll)
{
    FARPROC pfn = GetProcAddress(hLib, pszName);
    if (!pfn)
    {
        printf("no entry point %s\n", pszName);
        *pblAll = false;
    }
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(pfn));
}

int main(int argc, char** argv)
{
    if (argc < 2)
    {
        printf("usage: edab_block_owner <hardware access DLL> [block]\n");
        return 2;
    }
    const DWORD dwBlock = argc > 2 ? strtoul(argv[2], nullptr, 0) : 1;

    FILE* pLog = stderr;                      // read by the object at every debug line
    EDABBlock block;                          // every member starts as null, 0 or false
    block.hAccessLib = LoadLibraryA(argv[1]); // ~EDABBlock calls FreeLibrary
    if (!block.hAccessLib)
    {
        printf("LoadLibrary %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    HMODULE h = block.hAccessLib;
    bool blAll = true;
    block.pfnIoWriteByte = Entry<PFN_IO_WRITE_BYTE>(h, "IoWriteByte", &blAll);
    block.pfnMemReadByte = Entry<PFN_MEM_READ_BYTE>(h, "MemReadByte", &blAll);
    block.pfnMemReadWord = Entry<PFN_MEM_READ_WORD>(h, "MemReadWord", &blAll);
    block.pfnMemReadDword = Entry<PFN_MEM_READ_DWORD>(h, "MemReadDword", &blAll);
    block.pfnMemWriteByte = Entry<PFN_MEM_WRITE_BYTE>(h, "MemWriteByte", &blAll);
    block.pfnMemWriteWord = Entry<PFN_MEM_WRITE_WORD>(h, "MemWriteWord", &blAll);
    block.pfnMemWriteDword = Entry<PFN_MEM_WRITE_DWORD>(h, "MemWriteDword", &blAll);
    block.pfnMapPhysMem = Entry<PFN_MAP_PHYS_MEM>(h, "MapPhysMem", &blAll);
    block.pfnUnmapPhysMem = Entry<PFN_UNMAP_PHYS_MEM>(h, "UnmapPhysMem", &blAll);
    block.pfnAllocPhysBuf = Entry<PFN_ALLOC_PHYS_BUF>(h, "AllocPhysBuf", &blAll);
    block.pfnFreePhysBuf = Entry<PFN_FREE_PHYS_BUF>(h, "FreePhysBuf", &blAll);
    if (!blAll)
        return 1;
    block.ppLogFile = &pLog;
    block.blDebug = false;    // true: every step through DebugPrint to *ppLogFile
    block.dwNoCheckPower = 0; // never flash while the firmware says power is not safe
    // dwAllocArg1..4, dwAllowedReason, blForceVer20, szPassword: 0 and empty
    // suit this DLL and a firmware without a password.

    bool blOk = RoundTrip(block, dwBlock);

    DWORD dwStoreSize = 0;
    BYTE bFormat = 0;
    DWORD dwStatus = 0;
    if (block.OemData(OEMDATA_QUERY, 0, nullptr, &dwStoreSize, &bFormat, &dwStatus))
        printf("OemData query: status %lX, store %lu bytes, format %u\n", dwStatus, dwStoreSize,
               bFormat);
    else
    {
        printf("OemData query: failed\n");
        blOk = false;
    }
    return blOk ? 0 : 1;
}
