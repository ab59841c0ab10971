// The fleet program's dealings with Windows beyond the firmware variable:
// text conversion, the clock, the PC's name, and the files of the journal and
// the central log. Paths are UTF-8 here and wide towards Windows, so any name
// an administrator can type reaches the file system unchanged.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

std::wstring Widen(const std::string& utf8);
std::string Narrow(const wchar_t* pwszText);
// The text in the ANSI code page, as the firmware-variable calls take it;
// false when a character has no exact form there.
bool ToAnsiCodePage(const std::string& utf8, std::string* pAnsi);

std::string IsoUtcTime(const SYSTEMTIME& time); // 2026-12-09T14:05:09Z
std::string MakeRunId(const SYSTEMTIME& time);  // 20261209T140509Z-1A2B3C4D
std::string ComputerName();                     // the PC's NetBIOS name

// Sharing and lock violations are waited out with back-off for a bounded time
// (about 5.5 s in all): another PC appending to the same log, or a person
// who has it open, holds it for moments.
constexpr int kAppendAttempts = 11;

// Appends one record in a single write to a file opened for appending (made
// if missing); a file that is empty gets pszHeader's text first, in the same
// write. With blFlush the data is on disk when it returns. False with
// *pdwError on any failure, including a short write.
bool AppendText(const std::string& path, const std::string& header, const std::string& text,
                bool blFlush, DWORD* pdwError);
// Opens the file for appending as AppendText would, and closes it again:
// whether a line could be written now.
bool ProbeAppend(const std::string& path, DWORD* pdwError);
// A file's whole contents; a missing file is empty, not an error.
bool ReadWholeFile(const std::string& path, std::string* pText, DWORD* pdwError);
// A new file with the text (never overwrites one: ERROR_FILE_EXISTS).
bool WriteNewFile(const std::string& path, const std::string& text, DWORD* pdwError);
bool IsFolder(const std::string& path);

// The journal's folder, made if missing so that only SYSTEM and the
// Administrators may change or read it. A folder (or journal file) that
// another user could change, or that is a reparse point, is refused: a planted
// journal would make undo write a byte of that user's choosing. When Ready,
// *phFolder holds the folder open (not shared for deletion) until the caller
// closes it.
enum class JournalFolderState
{
    Ready,
    Untrusted, // *pWhy says who else may change it
    Unusable,  // cannot be found or made: *pWhy says why
};
JournalFolderState PrepareJournalFolder(const std::string& folder, const std::string& journalFile,
                                        HANDLE* phFolder, std::string* pWhy);
// %ProgramData%\Ardentis, or the folder ARDENTIS_FLEET_HOME names.
bool JournalFolderPath(std::string* pFolder);

std::string OsErrorText(DWORD dwError); // "error 32"
