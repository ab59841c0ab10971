#include "function_codes.h"

namespace
{

constexpr MailboxWrite Arg(MailboxField f, uint8_t cb)
{
    return {f, cb, true, 0};
}
constexpr MailboxWrite Fsfn(uint8_t bFunction)
{
    return {MAILBOX_FSFN, 1, false, bFunction};
}
constexpr MailboxWrite Const(MailboxField f, uint8_t cb, uint16_t w)
{
    return {f, cb, false, w};
}
constexpr MailboxWrite Busy()
{
    return {MAILBOX_FSTA, 2, false, kBusyMarker};
}

constexpr FlashFunctionInfo kFunctions[] = {
    {FLSH, kFnFlsh, true, false, 2, {Arg(MAILBOX_FSTA, 2), Fsfn(kFnFlsh)}},
    {FINI, kFnFini, true, true, 3, {Arg(MAILBOX_FADR, 4), Fsfn(kFnFini), Busy()}},
    // Erasing is offered over WMI only.
    {FERS, kFnFers, false, false, 0, {}},
    {FWRI,
     kFnWrite,
     true,
     true,
     4,
     {Arg(MAILBOX_FADR, 4), Const(MAILBOX_FSIZ, 2, 0x1000), Fsfn(kFnWrite), Busy()}},
    {FWRP, kFnWrite, true, true, 3, {Const(MAILBOX_FSIZ, 2, 0), Fsfn(kFnWrite), Busy()}},
    {FEBW, kFnFebw, true, true, 3, {Arg(MAILBOX_FADR, 4), Fsfn(kFnFebw), Busy()}},
    {FEBR, kFnFebr, true, true, 3, {Arg(MAILBOX_FADR, 4), Fsfn(kFnFebr), Busy()}},
    {FEDW, kFnFedw, true, true, 2, {Fsfn(kFnFedw), Busy()}},
    {ECSR, kFnEcsr, true, false, 2, {Arg(MAILBOX_FSTA, 2), Fsfn(kFnEcsr)}},
    {GDMI, kFnEcsr, true, true, 3, {Arg(MAILBOX_FADR, 4), Fsfn(kFnEcsr), Busy()}},
    {FLSC, kFnFlsc, true, false, 2, {Arg(MAILBOX_FSTA, 2), Fsfn(kFnFlsc)}},
    // FSIZ of the OEM data function carries a full 32-bit argument.
    {OEMD,
     kFnOemData,
     true,
     false,
     4,
     {Arg(MAILBOX_FSTA, 2), Arg(MAILBOX_FADR, 4), Arg(MAILBOX_FSIZ, 4), Fsfn(kFnOemData)}},
};

} // namespace

const FlashFunctionInfo* FindFlashFunction(uint32_t dwCode)
{
    for (const FlashFunctionInfo& info : kFunctions)
        if (info.dwCode == dwCode)
            return &info;
    return nullptr;
}
