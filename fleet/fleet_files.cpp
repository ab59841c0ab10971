#define _CRT_RAND_S
#include "fleet_files.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

// Full control for SYSTEM and the Administrators, read for the Users; not
// inherited from the parent, whose rights (ProgramData lets users create
// files) must not reach the journal.
constexpr const char* kJournalFolderSddl =
    "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

constexpr DWORD kBackoffMs[kAppendAttempts - 1] = {50, 100, 200, 400, 800, 800, 800, 800, 800, 800};

bool IsSharingConflict(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

HANDLE OpenForAppend(const std::string& path, DWORD* pdwError)
{
    std::wstring wide = Widen(path);
    for (int nAttempt = 0;; ++nAttempt)
    {
        HANDLE hFile =
            CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile != INVALID_HANDLE_VALUE)
            return hFile;
        *pdwError = GetLastError();
        if (!IsSharingConflict(*pdwError) || nAttempt + 1 >= kAppendAttempts)
            return INVALID_HANDLE_VALUE;
        Sleep(kBackoffMs[nAttempt]);
    }
}

// Writes that a sharing conflict refused are tried again, like the open.
bool WriteWhole(HANDLE hFile, const std::string& text, DWORD* pdwError)
{
    for (int nAttempt = 0;; ++nAttempt)
    {
        DWORD cbWritten = 0;
        if (WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr))
        {
            if (cbWritten == text.size())
                return true;
            *pdwError = ERROR_DISK_FULL; // a short write without a reason
            return false;
        }
        *pdwError = GetLastError();
        if (!IsSharingConflict(*pdwError) || nAttempt + 1 >= kAppendAttempts)
            return false;
        Sleep(kBackoffMs[nAttempt]);
    }
}

bool SidIs(PSID pSid, WELL_KNOWN_SID_TYPE type)
{
    return pSid && IsWellKnownSid(pSid, type);
}

// The account running this program, when it is an administrator: under a
// token whose default owner is the user rather than the Administrators group,
// the folder it made is owned by that user.
bool CurrentAdminUser(std::vector<BYTE>* pSid)
{
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return false;
    BYTE abUser[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    DWORD cb = 0;
    bool blOk = GetTokenInformation(hToken, TokenUser, abUser, sizeof abUser, &cb);
    CloseHandle(hToken);
    if (!blOk)
        return false;
    PSID pUser = reinterpret_cast<TOKEN_USER*>(abUser)->User.Sid;
    BYTE abAdmins[SECURITY_MAX_SID_SIZE];
    DWORD cbAdmins = sizeof abAdmins;
    BOOL blMember = FALSE;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, abAdmins, &cbAdmins) ||
        !CheckTokenMembership(nullptr, abAdmins, &blMember) || !blMember)
        return false;
    pSid->assign(static_cast<BYTE*>(pUser), static_cast<BYTE*>(pUser) + GetLengthSid(pUser));
    return true;
}

std::string SidText(PSID pSid)
{
    char* pszSid = nullptr;
    if (!ConvertSidToStringSidA(pSid, &pszSid))
        return "an unknown account";
    std::string text = pszSid;
    LocalFree(pszSid);
    return text;
}

// Who may change the object besides SYSTEM, the Administrators and the
// administrator running this program: "" when nobody else.
std::string OtherWriters(const std::string& path)
{
    PSID pOwner = nullptr;
    PACL pDacl = nullptr;
    PSECURITY_DESCRIPTOR pDescriptor = nullptr;
    std::wstring wide = Widen(path);
    DWORD dwError = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &pOwner, nullptr, &pDacl, nullptr, &pDescriptor);
    if (dwError != ERROR_SUCCESS)
        return "its access could not be read, " + OsErrorText(dwError);
    std::vector<BYTE> adminUser;
    bool blAdminUser = CurrentAdminUser(&adminUser);
    auto trusted = [&](PSID pSid)
    {
        return SidIs(pSid, WinLocalSystemSid) || SidIs(pSid, WinBuiltinAdministratorsSid) ||
               (blAdminUser && EqualSid(pSid, adminUser.data()));
    };
    std::string why;
    if (!pOwner || !trusted(pOwner))
        why = "it is owned by " + (pOwner ? SidText(pOwner) : std::string("nobody"));
    else if (!pDacl)
        why = "it has no access list: everyone may change it";
    else
    {
        constexpr DWORD kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                        FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                        WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
        for (DWORD i = 0; i < pDacl->AceCount && why.empty(); ++i)
        {
            ACE_HEADER* pHeader = nullptr;
            if (!GetAce(pDacl, i, reinterpret_cast<void**>(&pHeader)))
                continue;
            if (pHeader->AceType == ACCESS_DENIED_ACE_TYPE ||
                (pHeader->AceFlags & INHERIT_ONLY_ACE))
                continue;
            if (pHeader->AceType != ACCESS_ALLOWED_ACE_TYPE)
            {
                // Conditional and object entries are not judged: not trusted.
                why = "its access list holds an entry of a kind not checked here";
                break;
            }
            auto* pAce = reinterpret_cast<ACCESS_ALLOWED_ACE*>(pHeader);
            PSID pSid = reinterpret_cast<PSID>(&pAce->SidStart);
            if ((pAce->Mask & kChangeRights) && !trusted(pSid))
                why = "it lets " + SidText(pSid) + " change it";
        }
    }
    LocalFree(pDescriptor);
    return why;
}

} // namespace

std::wstring Widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int cch =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], cch);
    return wide;
}

std::string Narrow(const wchar_t* pwszText)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, nullptr, 0, nullptr, nullptr);
    if (cb <= 1)
        return std::string();
    std::string text(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, pwszText, -1, &text[0], cb, nullptr, nullptr);
    text.resize(static_cast<size_t>(cb) - 1);
    return text;
}

bool ToAnsiCodePage(const std::string& utf8, std::string* pAnsi)
{
    std::wstring wide = Widen(utf8);
    pAnsi->clear();
    if (wide.empty())
        return utf8.empty();
    BOOL blDefaultUsed = FALSE;
    // UTF-8 as the ANSI code page takes no default-character flag.
    BOOL* pblDefaultUsed = GetACP() == CP_UTF8 ? nullptr : &blDefaultUsed;
    DWORD dwFlags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int cb = WideCharToMultiByte(CP_ACP, dwFlags, wide.data(), static_cast<int>(wide.size()),
                                 nullptr, 0, nullptr, pblDefaultUsed);
    if (cb <= 0 || blDefaultUsed)
        return false;
    pAnsi->assign(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_ACP, dwFlags, wide.data(), static_cast<int>(wide.size()), &(*pAnsi)[0],
                        cb, nullptr, pblDefaultUsed);
    if (blDefaultUsed)
        return false;
    // Only a name that comes back unchanged reaches the firmware as given.
    int cchBack = MultiByteToWideChar(CP_ACP, 0, pAnsi->data(), cb, nullptr, 0);
    std::wstring back(static_cast<size_t>(cchBack > 0 ? cchBack : 0), L'\0');
    if (cchBack > 0)
        MultiByteToWideChar(CP_ACP, 0, pAnsi->data(), cb, &back[0], cchBack);
    return back == wide;
}

std::string IsoUtcTime(const SYSTEMTIME& time)
{
    char sz[32];
    snprintf(sz, sizeof sz, "%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond);
    return sz;
}

std::string MakeRunId(const SYSTEMTIME& time)
{
    unsigned int uRandom = 0;
    if (rand_s(&uRandom) != 0)
        uRandom = GetCurrentProcessId() ^ GetTickCount();
    char sz[40];
    snprintf(sz, sizeof sz, "%04u%02u%02uT%02u%02u%02uZ-%08X", time.wYear, time.wMonth, time.wDay,
             time.wHour, time.wMinute, time.wSecond, uRandom);
    return sz;
}

std::string ComputerName()
{
    wchar_t wsz[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD cch = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(wsz, &cch))
        return "UNKNOWN";
    return Narrow(wsz);
}

bool AppendText(const std::string& path, const std::string& header, const std::string& text,
                bool blFlush, DWORD* pdwError)
{
    HANDLE hFile = OpenForAppend(path, pdwError);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER cbFile = {};
    bool blOk = GetFileSizeEx(hFile, &cbFile) != 0;
    if (!blOk)
        *pdwError = GetLastError();
    else
        blOk = WriteWhole(hFile, cbFile.QuadPart == 0 ? header + text : text, pdwError);
    if (blOk && blFlush && !FlushFileBuffers(hFile))
    {
        *pdwError = GetLastError();
        blOk = false;
    }
    CloseHandle(hFile);
    return blOk;
}

bool ProbeAppend(const std::string& path, DWORD* pdwError)
{
    HANDLE hFile = OpenForAppend(path, pdwError);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(hFile);
    return true;
}

bool ReadWholeFile(const std::string& path, std::string* pText, DWORD* pdwError)
{
    pText->clear();
    HANDLE hFile =
        CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        *pdwError = GetLastError();
        return *pdwError == ERROR_FILE_NOT_FOUND;
    }
    char ach[65536];
    bool blOk = true;
    for (;;)
    {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, ach, sizeof ach, &cbRead, nullptr))
        {
            *pdwError = GetLastError();
            blOk = false;
            break;
        }
        if (cbRead == 0)
            break;
        pText->append(ach, cbRead);
    }
    CloseHandle(hFile);
    return blOk;
}

bool WriteNewFile(const std::string& path, const std::string& text, DWORD* pdwError)
{
    HANDLE hFile = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
    {
        *pdwError = GetLastError();
        return false;
    }
    bool blOk = WriteWhole(hFile, text, pdwError);
    if (blOk && !FlushFileBuffers(hFile))
    {
        *pdwError = GetLastError();
        blOk = false;
    }
    CloseHandle(hFile);
    if (!blOk)
        DeleteFileW(Widen(path).c_str()); // a cut backup would pass for a whole one
    return blOk;
}

bool IsFolder(const std::string& path)
{
    DWORD dwAttributes = GetFileAttributesW(Widen(path).c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool JournalFolderPath(std::string* pFolder)
{
    wchar_t wsz[MAX_PATH];
    DWORD cch = GetEnvironmentVariableW(L"ARDENTIS_FLEET_HOME", wsz, MAX_PATH);
    if (cch > 0 && cch < MAX_PATH)
    {
        *pFolder = Narrow(wsz);
        return true;
    }
    cch = GetEnvironmentVariableW(L"ProgramData", wsz, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return false;
    *pFolder = Narrow(wsz) + "\\Ardentis";
    return true;
}

JournalFolderState PrepareJournalFolder(const std::string& folder, const std::string& journalFile,
                                        std::string* pWhy)
{
    if (!IsFolder(folder))
    {
        PSECURITY_DESCRIPTOR pDescriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
                kJournalFolderSddl, SDDL_REVISION_1, &pDescriptor, nullptr))
        {
            *pWhy = "its access list cannot be made, " + OsErrorText(GetLastError());
            return JournalFolderState::Unusable;
        }
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, pDescriptor, FALSE};
        BOOL blMade = CreateDirectoryW(Widen(folder).c_str(), &attributes);
        DWORD dwError = GetLastError();
        LocalFree(pDescriptor);
        if (!blMade && dwError != ERROR_ALREADY_EXISTS)
        {
            *pWhy = "it cannot be made, " + OsErrorText(dwError);
            return JournalFolderState::Unusable;
        }
    }
    std::string why = OtherWriters(folder);
    if (why.empty() && GetFileAttributesW(Widen(journalFile).c_str()) != INVALID_FILE_ATTRIBUTES)
    {
        why = OtherWriters(journalFile);
        if (!why.empty())
            why = "its journal file: " + why;
    }
    if (why.empty())
        return JournalFolderState::Ready;
    *pWhy = why;
    return JournalFolderState::Untrusted;
}

std::string OsErrorText(DWORD dwError)
{
    char sz[32];
    snprintf(sz, sizeof sz, "error %lu", static_cast<unsigned long>(dwError));
    return sz;
}
