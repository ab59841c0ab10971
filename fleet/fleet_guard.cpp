#include "fleet_guard.h"

#include "fleet_outcomes.h"

namespace
{

char Lower(char ch)
{
    return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch - 'A' + 'a') : ch;
}

// Whether pattern[nFrom, nFrom + cch) (no '*' in it) matches value at nAt.
bool SegmentAt(const std::string& pattern, size_t nFrom, size_t cch, const std::string& value,
               size_t nAt)
{
    for (size_t i = 0; i < cch; ++i)
        if (Lower(pattern[nFrom + i]) != Lower(value[nAt + i]))
            return false;
    return true;
}

// A text of the PC or of the command line as a message quotes it: one line.
std::string Quoted(const std::string& text)
{
    std::string shown = text;
    for (char& ch : shown)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F)
            ch = '?';
    return "\"" + shown + "\"";
}

GuardVerdict Fails(GuardKind kind, const char* pszReason, const std::string& message)
{
    GuardVerdict verdict;
    verdict.failed = kind;
    verdict.pszReason = pszReason;
    verdict.message = message;
    return verdict;
}

// A value inside double quotes, as cmd.exe and PowerShell pass it on
// unchanged, still matching the value (FormatGuardLine's comment).
std::string GuardValue(const std::string& value)
{
    std::string text;
    // Where the backslashes that end the value start (npos + 1 is 0: all are).
    const size_t nTrailingFrom = value.find_last_not_of('\\') + 1;
    for (size_t i = 0; i < value.size(); ++i)
    {
        const unsigned char ch = static_cast<unsigned char>(value[i]);
        // cmd.exe expands %...% (and !...! under delayed expansion), PowerShell
        // $... and `; a '"' ends the quotes, and a '\' before the closing one
        // would escape it for the C runtime's reading of the command line.
        const bool blUnsafe = ch < 0x20 || ch >= 0x7F || ch == '"' || ch == '%' || ch == '!' ||
                              ch == '$' || ch == '`' || (ch == '\\' && i >= nTrailingFrom);
        const char chOut = blUnsafe ? '*' : static_cast<char>(ch);
        if (!(chOut == '*' && !text.empty() && text.back() == '*'))
            text += chOut;
    }
    if (text.compare(0, 2, "--") == 0)
        text[0] = '*';
    return text;
}

} // namespace

bool MatchesPattern(const std::string& pattern, const std::string& value)
{
    const size_t nFirstStar = pattern.find('*');
    if (nFirstStar == std::string::npos)
        return pattern.size() == value.size() && SegmentAt(pattern, 0, pattern.size(), value, 0);
    // Before the first '*' a prefix, after the last a suffix, and between
    // them each run in order, each taken where it is first found: taking any
    // later place leaves less room for the rest, never more.
    const size_t nLastStar = pattern.rfind('*');
    const size_t cchSuffix = pattern.size() - nLastStar - 1;
    if (nFirstStar + cchSuffix > value.size() || !SegmentAt(pattern, 0, nFirstStar, value, 0) ||
        !SegmentAt(pattern, nLastStar + 1, cchSuffix, value, value.size() - cchSuffix))
        return false;
    size_t nAt = nFirstStar;
    const size_t nEnd = value.size() - cchSuffix;
    for (size_t nFrom = nFirstStar + 1; nFrom < nLastStar;)
    {
        const size_t cch = pattern.find('*', nFrom) - nFrom;
        if (cch != 0)
        {
            while (nAt + cch <= nEnd && !SegmentAt(pattern, nFrom, cch, value, nAt))
                ++nAt;
            if (nAt + cch > nEnd)
                return false;
            nAt += cch;
        }
        nFrom += cch + 1;
    }
    return true;
}

GuardVerdict JudgeGuards(const FleetRequest& request, const PcFacts& pc)
{
    if (request.blHaveModel && !MatchesPattern(request.modelPattern, pc.model))
        return Fails(
            GuardKind::Model, kReasonOtherModel,
            "--model " + Quoted(request.modelPattern) + " does not match this PC's model" +
                (pc.model.empty() ? ", which is unknown." : ", " + Quoted(pc.model) + "."));
    if (request.blHaveFirmware && !MatchesPattern(request.firmwarePattern, pc.firmware))
        return Fails(
            GuardKind::Firmware, kReasonOtherFirmware,
            "--firmware " + Quoted(request.firmwarePattern) +
                " does not match this PC's firmware version" +
                (pc.firmware.empty() ? ", which is unknown." : ", " + Quoted(pc.firmware) + "."));
    if (request.blHaveSize && pc.blHaveSize && pc.dwSize != request.dwSize)
        return Fails(GuardKind::Size, kReasonOtherSize,
                     "--size " + std::to_string(request.dwSize) + " is not the variable's size, " +
                         std::to_string(pc.dwSize) + " bytes.");
    if (request.blHaveWas && pc.blHaveByte && pc.bByte != request.bData)
    {
        std::string listed;
        for (uint8_t bWas : request.wasValues)
        {
            if (bWas == pc.bByte)
                return GuardVerdict();
            listed += (listed.empty() ? "" : ",") + HexByte(bWas);
        }
        return Fails(GuardKind::Value, kReasonOtherValue,
                     "The byte holds " + HexByte(pc.bByte) + ", neither DATA " +
                         HexByte(request.bData) + " nor a value of --was " + listed + ".");
    }
    return GuardVerdict();
}

GuardVerdict JudgeUndoFirmware(const std::string& recorded, const std::string& now)
{
    if (recorded.empty() || recorded == now)
        return GuardVerdict();
    return Fails(GuardKind::Firmware, kReasonOtherFirmware,
                 "The change was made under firmware version " + Quoted(recorded) +
                     "; this PC's is " + (now.empty() ? "unknown" : Quoted(now)) + " now.");
}

std::string FormatGuardLine(const PcFacts& pc, uint8_t bData)
{
    std::string line;
    auto add = [&line](const std::string& option) { line += (line.empty() ? "" : " ") + option; };
    if (!pc.model.empty())
        add("--model \"" + GuardValue(pc.model) + "\"");
    if (!pc.firmware.empty())
        add("--firmware \"" + GuardValue(pc.firmware) + "\"");
    if (pc.blHaveSize && pc.dwSize >= 1 && pc.dwSize <= kMaxGuardSize)
        add("--size " + std::to_string(pc.dwSize));
    if (pc.blHaveByte && pc.bByte != bData)
        add("--was " + HexByte(pc.bByte));
    return line;
}
