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

// Which operation runs: the texts of the steps differ per operation, typos
// included.
enum class BlockOp
{
    Read,
    Write
};

// Which text a refused free prints.
enum class FreeText
{
    Step,      // most paths
    AfterEcsr, // after ECSR failed
    Done       // on the way out after success
};

class BlockFlow
{
public:
    BlockFlow(EDABBlock& block, BlockOp op, DWORD* pdwErrFlags)
        : m_block(block), m_blWrite(op == BlockOp::Write), m_pdwErrFlags(pdwErrFlags)
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
    // Gives the buffer back; text selects the message of a refused free.
    virtual void Free(FreeText text) = 0;
    // Where block data is copied while the buffer is locked.
    virtual BYTE* Lock() = 0;
    virtual void Unlock() = 0;

    void Close() { Call(FLSH, 1); } // its own result does not matter
    void Fail(DWORD dwFlag) { *m_pdwErrFlags |= dwFlag; }
    // DebugPrint while blDebug is set. Every format is a literal at its call
    // (the read and the write text side by side in a conditional), so the
    // compiler checks each against its arguments.
    void Print(const char* pszFormat, ...) ARDENTIS_PRINTF(2, 3);
    void PrintFreeFailed(FreeText text);
    bool Ver20() const { return m_block.blExtfVer20 || m_block.blForceVer20; }

    EDABBlock& m_block;
    const bool m_blWrite;
    DWORD* m_pdwErrFlags;
    DWORD m_dwResult = 0;

private:
    bool Open();
    // FEBR for dwBlock; on false the operation is over. *pdwSize: the size.
    bool ReadIntoBuffer(DWORD dwBlock, DWORD* pdwSize);
};
