#define _CRT_RAND_S
#include "fleet_files.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

// Full control for SYSTEM and the Administrators, nobody else: the backups
// hold whole variables, which Windows otherwise shows only to a holder of the
// firmware-variable privilege. Not inherited from the parent, whose rights
// (ProgramData lets users create files) must not reach the journal.
constexpr const char* kJournalFolderSddl = "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Appenders that follow this rule take this byte range before they look at
// the file's end and write: far beyond any end, it blocks no reader, and two
// PCs creating one log never both write its header.
constexpr DWORD kAppendLockOffsetHigh = 0x7FFFFFFF;

constexpr DWORD kBackoffMs[kAppendAttempts - 1] = {50, 100, 200, 400, 800, 800, 800, 800, 800, 800};

bool IsSharingConflict(DWORD dwError)
{
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION;
}

// Makes the attempt (true when done; false with *pdwError set) again after a
// sharing or lock conflict, waiting longer each time, kAppendAttempts at most.
template <typename Attempt> bool WithBackoff(Attempt attempt, DWORD* pdwError)
{
    for (int nAttempt = 0;; ++nAttempt)
    {
        if (attempt())
            return true;
        if (!IsSharingConflict(*pdwError) || nAttempt + 1 >= kAppendAttempts)
            return false;
        Sleep(kBackoffMs[nAttempt]);
    }
}

// Opened to read its end as well, where the rights allow; a log that may be
// appended to but not read is still appended to, without that check.
HANDLE OpenForAppend(const std::string& path, DWORD* pdwError, bool* pblReadable)
{
    const std::wstring wide = Widen(path);
    const DWORD dwAccess = FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    HANDLE hFile = INVALID_HANDLE_VALUE;
    auto open = [&]
    {
        *pblReadable = true;
        hFile = CreateFileW(wide.c_str(), dwAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        {
            *pblReadable = false;
            hFile = CreateFileW(wide.c_str(), dwAccess & ~FILE_READ_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        *pdwError = GetLastError();
        return hFile != INVALID_HANDLE_VALUE;
    };
    return WithBackoff(open, pdwError) ? hFile : INVALID_HANDLE_VALUE;
}

// Takes the appenders' byte range, waiting out another appender like a
// sharing conflict.
bool LockForAppend(HANDLE hFile, DWORD* pdwError)
{
    auto lock = [&]
    {
        OVERLAPPED where = {};
        where.OffsetHigh = kAppendLockOffsetHigh;
        const bool blLocked =
            LockFileEx(hFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &where);
        *pdwError = GetLastError();
        return blLocked;
    };
    return WithBackoff(lock, pdwError);
}

void UnlockForAppend(HANDLE hFile)
{
    OVERLAPPED where = {};
    where.OffsetHigh = kAppendLockOffsetHigh;
    UnlockFileEx(hFile, 0, 1, 0, &where);
}

// What must stand before the next record so that it starts a line of its
// own: nothing after a line end (or in an empty file), the LF after a lone
// CR, else a whole CR LF, which ends a record cut by a power loss or a short
// write where it was cut. False with *pdwError when the end cannot be read.
bool LineEndNeeded(HANDLE hFile, LONGLONG cbFile, std::string* pNeeded, DWORD* pdwError)
{
    pNeeded->clear();
    if (cbFile == 0)
        return true;
    LARGE_INTEGER where = {};
    where.QuadPart = cbFile - 1;
    char chLast = 0;
    DWORD cbRead = 0;
    if (!SetFilePointerEx(hFile, where, nullptr, FILE_BEGIN) ||
        !ReadFile(hFile, &chLast, 1, &cbRead, nullptr))
    {
        *pdwError = GetLastError();
        return false;
    }
    if (cbRead == 1 && chLast != '\n')
        *pNeeded = chLast == '\r' ? "\n" : "\r\n";
    return true;
}

// Writes that a sharing conflict refused are tried again, like the open.
bool WriteWhole(HANDLE hFile, const std::string& text, DWORD* pdwError)
{
    auto write = [&]
    {
        DWORD cbWritten = 0;
        if (!WriteFile(hFile, text.data(), static_cast<DWORD>(text.size()), &cbWritten, nullptr))
        {
            *pdwError = GetLastError();
            return false;
        }
        // A short write without a reason is a full disk, and no conflict.
        *pdwError = cbWritten == text.size() ? ERROR_SUCCESS : ERROR_DISK_FULL;
        return cbWritten == text.size();
    };
    return WithBackoff(write, pdwError);
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
    bool blReadable = false;
    HANDLE hFile = OpenForAppend(path, pdwError, &blReadable);
    if (hFile == INVALID_HANDLE_VALUE)
        return false;
    if (!LockForAppend(hFile, pdwError))
    {
        CloseHandle(hFile);
        return false;
    }
    LARGE_INTEGER cbFile = {};
    bool blOk = GetFileSizeEx(hFile, &cbFile) != 0;
    if (!blOk)
        *pdwError = GetLastError();
    std::string whole = cbFile.QuadPart == 0 ? header + text : text;
    std::string lineEnd;
    if (blOk && blReadable)
        blOk = LineEndNeeded(hFile, cbFile.QuadPart, &lineEnd, pdwError);
    whole = lineEnd + whole;
    LARGE_INTEGER zero = {};
    if (blOk && !SetFilePointerEx(hFile, zero, nullptr, FILE_END))
    {
        *pdwError = GetLastError();
        blOk = false;
    }
    if (blOk)
        blOk = WriteWhole(hFile, whole, pdwError);
    if (blOk && blFlush && !FlushFileBuffers(hFile))
    {
        *pdwError = GetLastError();
        blOk = false;
    }
    UnlockForAppend(hFile);
    CloseHandle(hFile);
    return blOk;
}

bool ProbeAppend(const std::string& path, DWORD* pdwError)
{
    bool blReadable = false;
    HANDLE hFile = OpenForAppend(path, pdwError, &blReadable);
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

namespace
{

bool IsReparsePoint(DWORD dwAttributes)
{
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

constexpr const char* kReparseWhy =
    "is a reparse point (a junction or a link), which leads wherever its maker chose";

} // namespace

JournalFolderState PrepareJournalFolder(const std::string& folder, const std::string& journalFile,
                                        HANDLE* phFolder, std::string* pWhy)
{
    *phFolder = INVALID_HANDLE_VALUE;
    // A junction's owner and access list would be its target's: any user may
    // make one in ProgramData and point it at a folder only the
    // Administrators may change, then re-point it between runs.
    if (IsReparsePoint(GetFileAttributesW(Widen(folder).c_str())))
    {
        *pWhy = std::string("it ") + kReparseWhy;
        return JournalFolderState::Untrusted;
    }
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
    // Held open for the run, itself and not what it may point to, and not
    // shared for deletion: the folder judged is the folder used.
    HANDLE hFolder = CreateFileW(
        Widen(folder).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (hFolder == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(hFolder, &info))
    {
        *pWhy = "it cannot be opened, " + OsErrorText(GetLastError());
        if (hFolder != INVALID_HANDLE_VALUE)
            CloseHandle(hFolder);
        return JournalFolderState::Unusable;
    }
    std::string why;
    if (IsReparsePoint(info.dwFileAttributes))
        why = std::string("it ") + kReparseWhy;
    else if (IsReparsePoint(GetFileAttributesW(Widen(journalFile).c_str())))
        why = std::string("its journal file ") + kReparseWhy;
    else
        why = OtherWriters(folder);
    if (why.empty() && GetFileAttributesW(Widen(journalFile).c_str()) != INVALID_FILE_ATTRIBUTES)
    {
        why = OtherWriters(journalFile);
        if (!why.empty())
            why = "its journal file: " + why;
    }
    if (why.empty())
    {
        *phFolder = hFolder;
        return JournalFolderState::Ready;
    }
    CloseHandle(hFolder);
    *pWhy = why;
    return JournalFolderState::Untrusted;
}

std::string OsErrorText(DWORD dwError)
{
    char sz[32];
    snprintf(sz, sizeof sz, "error %lu", static_cast<unsigned long>(dwError));
    return sz;
}
