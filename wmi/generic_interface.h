// The outside COM server that takes both WMI buffers in one call.
#pragma once

#include <windows.h>
#include <unknwn.h>

// {8A76C71E-32B7-491D-995B-2634718721AD}
constexpr CLSID CLSID_GenericInterface = {
    0x8A76C71E, 0x32B7, 0x491D, {0x99, 0x5B, 0x26, 0x34, 0x71, 0x87, 0x21, 0xAD}};
// {F29B70FC-B72D-4150-8C7E-20D527C42DA3}
constexpr IID IID_IGenericInterface = {
    0xF29B70FC, 0xB72D, 0x4150, {0x8C, 0x7E, 0x20, 0xD5, 0x27, 0xC4, 0x2D, 0xA3}};

// Class context of the creation: in-process server, in-process handler and
// local server.
constexpr DWORD kGenericInterfaceClsCtx = 7;

struct IGenericInterface : public IUnknown
{
    // Processes the 256-byte argument buffer and the payload in place and
    // stores a status (0 for success); the return value is not used.
    virtual HRESULT STDMETHODCALLTYPE GenericFunction(BYTE* pArg, BYTE* pPayload,
                                                      DWORD dwPayloadSize, DWORD* pdwStatus) = 0;
};
