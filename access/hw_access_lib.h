/* The hardware access library as the access object (EDABBlock) calls it.
 *
 * For whoever writes such a library: this header stands on its own (it needs
 * only <windows.h>, compiles as C and as C++) and is the whole contract. The
 * owner of an access object loads the library, fills the object's pfn*
 * members with the entry points below and stores the module handle in
 * hAccessLib; the object calls FreeLibrary on that handle when it is
 * destroyed. The virtual BIOS (sim/vbios, ardvbios.dll) is built from this
 * header.
 *
 * Calling convention: every entry point is WINAPI. On i386 that is __stdcall
 * (the callee pops its arguments); an entry point exported as __cdecl there
 * leaves the arguments on the stack at every call and breaks the caller's
 * stack. On x86-64 there is one convention and WINAPI changes nothing.
 *
 * Export names: the system looks up no name itself; the owner does. The
 * names below are the ones the virtual BIOS exports and the example owner
 * looks up. On i386 the compiler decorates __stdcall names ("_IoWriteByte@8"):
 * export them undecorated through a .def file, or link with -Wl,--kill-at,
 * so that GetProcAddress finds the plain name.
 *
 * A library that defines HW_ACCESS_LIB_EXPORTS before including this header
 * gets the entry points declared with these names and types: a definition
 * whose parameters, result or calling convention differ does not compile.
 *
 * The object is used by one thread at a time and calls no entry point
 * re-entrantly. Every mapping and buffer lives within one operation of the
 * object and is given back by its own entry point before the operation
 * returns, also when the operation fails.
 */
#ifndef ARDENTIS_HW_ACCESS_LIB_H
#define ARDENTIS_HW_ACCESS_LIB_H

#include <windows.h>

#ifdef __cplusplus
extern "C"
{
#endif

    /* Writes bValue to the 8-bit I/O port wPort. A write of the mailbox
     * descriptor's SMI command byte to its SMI port must raise the SMI and return
     * only when the firmware has taken the mailbox's fields; the firmware may
     * answer later (the object polls the mailbox's status field every 10 ms).
     * The result is not used. */
    typedef BOOL(WINAPI* PFN_IO_WRITE_BYTE)(WORD wPort, BYTE bValue);

    /* Read 8, 16 or 32 bits at a physical address and return them. The address
     * is a 64-bit value; the system only forms 32-bit addresses (upper half
     * zero). The object reads every mailbox field back at the width it wrote it,
     * and relies on a read returning what the firmware or the last write left
     * there: that is how it verifies each parameter before raising the SMI. These
     * reads have no failure result. */
    typedef BYTE(WINAPI* PFN_MEM_READ_BYTE)(DWORD64 qwPhysAddr);
    typedef WORD(WINAPI* PFN_MEM_READ_WORD)(DWORD64 qwPhysAddr);
    typedef DWORD(WINAPI* PFN_MEM_READ_DWORD)(DWORD64 qwPhysAddr);

    /* Write 8, 16 or 32 bits at a physical address (same addresses as the
     * reads). The results are not used. */
    typedef BOOL(WINAPI* PFN_MEM_WRITE_BYTE)(DWORD64 qwPhysAddr, BYTE bValue);
    typedef BOOL(WINAPI* PFN_MEM_WRITE_WORD)(DWORD64 qwPhysAddr, WORD wValue);
    typedef BOOL(WINAPI* PFN_MEM_WRITE_DWORD)(DWORD64 qwPhysAddr, DWORD dwValue);

    /* Maps dwLength bytes of physical memory at the 32-bit address dwPhysAddr
     * into the process and returns a pointer to them, or NULL on failure (then
     * *phMapping need not be set). The object asks for the BIOS segment only:
     * 0x10000 bytes at 0xF0000, read, never written; it reads nothing past
     * dwLength. *phMapping receives a handle for PFN_UNMAP_PHYS_MEM. */
    typedef PVOID(WINAPI* PFN_MAP_PHYS_MEM)(DWORD dwPhysAddr, DWORD dwLength, HANDLE* phMapping);
    /* Releases a mapping by the handle PFN_MAP_PHYS_MEM gave. The result is not
     * used. */
    typedef BOOL(WINAPI* PFN_UNMAP_PHYS_MEM)(HANDLE hMapping);

    /* Allocates a buffer of dwSize bytes that the firmware reaches by its
     * physical address, and returns a pointer to it, or NULL on failure. The
     * object always asks for 4096 bytes and passes its members dwAllocArg1 ..
     * dwAllocArg4 through unchanged as dwArg1 .. dwArg4; their meaning is the
     * library's. On success:
     *   - *phBuffer: the handle PFN_FREE_PHYS_BUF takes;
     *   - *pdwPhysAddr: the buffer's physical address, below 4 GiB (the firmware
     *     receives it as a 32-bit value in the mailbox);
     *   - *pdwExtra: anything; the object never reads it.
     * The GlobalLock rule: the block operations pass the returned pointer to
     * GlobalLock as a memory handle and copy block data through the address
     * GlobalLock returns (falling back to the pointer itself when GlobalLock
     * fails). The pointer must therefore be memory from GlobalAlloc(GMEM_FIXED),
     * for which GlobalLock returns the same address, or a pointer that GlobalLock
     * refuses; never a GMEM_MOVEABLE handle, whose locked address is other memory
     * than the one the firmware reaches. The buffer's contents are not expected
     * to be zeroed. */
    typedef PVOID(WINAPI* PFN_ALLOC_PHYS_BUF)(DWORD dwSize, DWORD dwArg1, DWORD dwArg2,
                                              DWORD dwArg3, DWORD dwArg4, HANDLE* phBuffer,
                                              DWORD* pdwPhysAddr, DWORD* pdwExtra);
    /* Frees a buffer by the handle PFN_ALLOC_PHYS_BUF gave. The result is a
     * 32-bit BOOL in the whole return register: non-zero when freed, 0 (FALSE)
     * when not. A library written with a C++ bool (one byte) leaves the upper
     * bytes undefined and makes a refused free read as success, or the reverse.
     * The block operations report a refused free as an error. */
    typedef BOOL(WINAPI* PFN_FREE_PHYS_BUF)(HANDLE hBuffer);

/* Nine further entry points sit in the object's table (pfnReserved1 ..
 * pfnReserved9, five before pfnIoWriteByte and four after it). No operation
 * calls them; an owner may leave them NULL. */

/* The export names the virtual BIOS and the example owner use. */
#define HW_ACCESS_NAME_IO_WRITE_BYTE "IoWriteByte"
#define HW_ACCESS_NAME_MEM_READ_BYTE "MemReadByte"
#define HW_ACCESS_NAME_MEM_READ_WORD "MemReadWord"
#define HW_ACCESS_NAME_MEM_READ_DWORD "MemReadDword"
#define HW_ACCESS_NAME_MEM_WRITE_BYTE "MemWriteByte"
#define HW_ACCESS_NAME_MEM_WRITE_WORD "MemWriteWord"
#define HW_ACCESS_NAME_MEM_WRITE_DWORD "MemWriteDword"
#define HW_ACCESS_NAME_MAP_PHYS_MEM "MapPhysMem"
#define HW_ACCESS_NAME_UNMAP_PHYS_MEM "UnmapPhysMem"
#define HW_ACCESS_NAME_ALLOC_PHYS_BUF "AllocPhysBuf"
#define HW_ACCESS_NAME_FREE_PHYS_BUF "FreePhysBuf"

#ifdef HW_ACCESS_LIB_EXPORTS
    BOOL WINAPI IoWriteByte(WORD wPort, BYTE bValue);
    BYTE WINAPI MemReadByte(DWORD64 qwPhysAddr);
    WORD WINAPI MemReadWord(DWORD64 qwPhysAddr);
    DWORD WINAPI MemReadDword(DWORD64 qwPhysAddr);
    BOOL WINAPI MemWriteByte(DWORD64 qwPhysAddr, BYTE bValue);
    BOOL WINAPI MemWriteWord(DWORD64 qwPhysAddr, WORD wValue);
    BOOL WINAPI MemWriteDword(DWORD64 qwPhysAddr, DWORD dwValue);
    PVOID WINAPI MapPhysMem(DWORD dwPhysAddr, DWORD dwLength, HANDLE* phMapping);
    BOOL WINAPI UnmapPhysMem(HANDLE hMapping);
    PVOID WINAPI AllocPhysBuf(DWORD dwSize, DWORD dwArg1, DWORD dwArg2, DWORD dwArg3, DWORD dwArg4,
                              HANDLE* phBuffer, DWORD* pdwPhysAddr, DWORD* pdwExtra);
    BOOL WINAPI FreePhysBuf(HANDLE hBuffer);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#if defined(HW_ACCESS_LIB_EXPORTS) && defined(__cplusplus)
#include <type_traits>
/* The declared exports and the entry-point types cannot drift apart. */
static_assert(std::is_same<decltype(&IoWriteByte), PFN_IO_WRITE_BYTE>::value, "IoWriteByte");
static_assert(std::is_same<decltype(&MemReadByte), PFN_MEM_READ_BYTE>::value, "MemReadByte");
static_assert(std::is_same<decltype(&MemReadWord), PFN_MEM_READ_WORD>::value, "MemReadWord");
static_assert(std::is_same<decltype(&MemReadDword), PFN_MEM_READ_DWORD>::value, "MemReadDword");
static_assert(std::is_same<decltype(&MemWriteByte), PFN_MEM_WRITE_BYTE>::value, "MemWriteByte");
static_assert(std::is_same<decltype(&MemWriteWord), PFN_MEM_WRITE_WORD>::value, "MemWriteWord");
static_assert(std::is_same<decltype(&MemWriteDword), PFN_MEM_WRITE_DWORD>::value, "MemWriteDword");
static_assert(std::is_same<decltype(&MapPhysMem), PFN_MAP_PHYS_MEM>::value, "MapPhysMem");
static_assert(std::is_same<decltype(&UnmapPhysMem), PFN_UNMAP_PHYS_MEM>::value, "UnmapPhysMem");
static_assert(std::is_same<decltype(&AllocPhysBuf), PFN_ALLOC_PHYS_BUF>::value, "AllocPhysBuf");
static_assert(std::is_same<decltype(&FreePhysBuf), PFN_FREE_PHYS_BUF>::value, "FreePhysBuf");
#endif

#endif /* ARDENTIS_HW_ACCESS_LIB_H */
