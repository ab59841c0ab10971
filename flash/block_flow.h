// The steps ReadBlock and WriteBlock share over every transport: the opening
// handshake (FLSH 1, FLSH 0, ECSR 1, FINI and the judgement of its result),
// the reply record, the power and password checks, FEBR, FEBW and FEDW, with
// their error flags, messages and closes. A transport supplies the calls,
// the 4096-byte buffer the firmware works on, and what it must do around
// them (the SMI one allocates, locks and frees a physical buffer; the WMI one
// has its payload buffer and nothing to free).
#pragma once

#include "access/edab_block.h"
#include "access/debug_print.h"
#include "access/function_codes.h"

// The texts of the steps; they differ per operation, typos included.
struct BlockMessages
{
    const char* pszAlloc;
    const char* pszFlsh1;
    const char* pszFlsh0;
    const char* pszEcsr;
    const char* pszFini;
    const char* pszFiniVer20;
    const char* pszFiniRefused;
    const char* pszFiniPower;
    const char* pszFebr;
    const char* pszNoBlock;
    const char* pszFree;     // free failed on most paths
    const char* pszFreeEcsr; // ... after ECSR failed
    const char* pszFreeDone; // ... on the way out after success
};

extern const BlockMessages kReadBlockMessages;
extern const BlockMessages kWriteBlockMessages;

class BlockFlow
{
public:
    BlockFlow(EDABBlock& block, const BlockMessages& messages, DWORD* pdwErrFlags)
        : m_block(block), m_msg(messages), m_pdwErrFlags(pdwErrFlags)
    {
    }
    virtual ~BlockFlow() = default;

    bool ReadBlock(DWORD dwBlock, BYTE* pData, DWORD* pdwSize);
    bool WriteBlock(DWORD dwBlock, BYTE* pData, DWORD dwSize);

protected:
    // Everything before FLSH 1; false ends the operation (it has reported).
    virtual bool Begin() = 0;
    // One firmware function; its result word goes to m_dwResult, which a
    // failed call leaves as the previous call set it.
    virtual bool Call(DWORD dwCode, DWORD dwArgument) = 0;
    // The buffer the firmware fills and reads (4096 bytes).
    virtual BYTE* Buffer() = 0;
    virtual DWORD FiniArgument() = 0;
    // Gives the buffer back; pszMessage is the text for a refused free.
    virtual void Free(const char* pszMessage) = 0;
    // Where block data is copied while the buffer is locked.
    virtual BYTE* Lock() = 0;
    virtual void Unlock() = 0;

    void Close() { Call(FLSH, 1); } // its own result does not matter
    void Fail(DWORD dwFlag) { *m_pdwErrFlags |= dwFlag; }
    template <typename... Args> void Print(const char* pszFormat, Args... args)
    {
        if (m_block.blDebug)
            DebugPrint(m_block.ppLogFile, pszFormat, args...);
    }
    bool Ver20() const { return m_block.blExtfVer20 || m_block.blForceVer20; }

    EDABBlock& m_block;
    const BlockMessages& m_msg;
    DWORD* m_pdwErrFlags;
    DWORD m_dwResult = 0;

private:
    bool Open();
    // FEBR for dwBlock; on false the operation is over. *pdwSize: the size.
    bool ReadIntoBuffer(DWORD dwBlock, DWORD* pdwSize);
};
