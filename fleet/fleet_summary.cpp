#include "fleet_summary.h"

#include "fleet_args.h"

namespace
{

// Length of the valid UTF-8 sequence at text[i], 0 when it is not one.
size_t Utf8Length(const std::string& text, size_t i)
{
    const unsigned char b0 = static_cast<unsigned char>(text[i]);
    size_t cb = 0;
    unsigned char bMin = 0x80;
    unsigned char bMax = 0xBF;
    if (b0 < 0x80)
        return 1;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        cb = 2;
    else if (b0 >= 0xE0 && b0 <= 0xEF)
    {
        cb = 3;
        bMin = b0 == 0xE0 ? 0xA0 : 0x80; // no overlong forms
        bMax = b0 == 0xED ? 0x9F : 0xBF; // no surrogates
    }
    else if (b0 >= 0xF0 && b0 <= 0xF4)
    {
        cb = 4;
        bMin = b0 == 0xF0 ? 0x90 : 0x80;
        bMax = b0 == 0xF4 ? 0x8F : 0xBF;
    }
    else
        return 0;
    if (i + cb > text.size())
        return 0;
    for (size_t n = 1; n < cb; ++n)
    {
        const unsigned char b = static_cast<unsigned char>(text[i + n]);
        if (b < (n == 1 ? bMin : 0x80) || b > (n == 1 ? bMax : 0xBF))
            return 0;
    }
    return cb;
}

// At most cbMax bytes of text, cut before a character that would not fit.
std::string CutUtf8(const std::string& text, size_t cbMax)
{
    if (text.size() <= cbMax)
        return text;
    size_t cb = cbMax;
    while (cb > 0 && (static_cast<unsigned char>(text[cb]) & 0xC0) == 0x80)
        --cb;
    return text.substr(0, cb);
}

// A value of the summary line: a space or control character would end the
// value early for a reader that splits at spaces, so each becomes '_'.
std::string LineValue(const std::string& text)
{
    std::string value = text;
    for (char& ch : value)
        if (static_cast<unsigned char>(ch) <= 0x20 || ch == 0x7F)
            ch = '_';
    return value;
}

std::string OptionalByte(bool blHave, uint8_t b)
{
    return blHave ? HexByte(b) : std::string();
}

// A JSON string; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonString(const std::string& text)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string json = "\"";
    for (size_t i = 0; i < text.size();)
    {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        const size_t cb = Utf8Length(text, i);
        if (cb == 0)
        {
            json += "\\ufffd";
            ++i;
            continue;
        }
        if (ch == '"' || ch == '\\')
            json += {'\\', static_cast<char>(ch)};
        else if (ch < 0x20 || ch == 0x7F)
            json += std::string("\\u00") + kDigits[ch >> 4] + kDigits[ch & 0xF];
        else
            json.append(text, i, cb);
        i += cb;
    }
    return json + "\"";
}

std::string JsonOptional(const std::string& text, size_t cbMax)
{
    return text.empty() ? "null" : JsonString(CutUtf8(text, cbMax));
}

std::string JsonByte(bool blHave, uint8_t b)
{
    return blHave ? "\"" + HexByte(b) + "\"" : "null";
}

} // namespace

std::string FormatSummaryLine(const RunSummary& summary)
{
    const std::string line =
        "RESULT=" + LineValue(summary.outcome) + " EXIT=" + std::to_string(summary.nExitCode) +
        " OLD=" + OptionalByte(summary.blHaveOld, summary.bOld) +
        " NEW=" + OptionalByte(summary.blHaveNew, summary.bNew) +
        " READ=" + OptionalByte(summary.blHaveReadBack, summary.bReadBack) +
        " REASON=" + LineValue(summary.reason) + " RUN=" + LineValue(summary.run);
    return CutUtf8(line, kSummaryMaxChars);
}

std::string FormatSummaryJson(const RunSummary& summary)
{
    // The program's words and run id are short: the PC's model, up to 128
    // characters, is what may not fit, and is cut first. With every text cut
    // to 1 byte (escaped, 6 characters at most) the line is at most 179
    // characters.
    auto format = [&summary](size_t cbMax, size_t cbIdentityMax)
    {
        return "{\"result\":" + JsonOptional(summary.outcome, cbMax) +
               ",\"exit\":" + std::to_string(summary.nExitCode) +
               ",\"command\":" + JsonOptional(summary.command, cbMax) +
               ",\"old\":" + JsonByte(summary.blHaveOld, summary.bOld) +
               ",\"new\":" + JsonByte(summary.blHaveNew, summary.bNew) +
               ",\"read\":" + JsonByte(summary.blHaveReadBack, summary.bReadBack) +
               ",\"reason\":" + JsonOptional(summary.reason, cbMax) +
               ",\"run\":" + JsonOptional(summary.run, cbMax) +
               ",\"model\":" + JsonOptional(summary.model, cbIdentityMax) +
               ",\"firmware\":" + JsonOptional(summary.firmware, cbIdentityMax) +
               ",\"size\":" + (summary.blHaveSize ? std::to_string(summary.dwSize) : "null") + "}";
    };
    std::string json;
    for (size_t cbIdentityMax = 64; cbIdentityMax >= 1; --cbIdentityMax)
    {
        json = format(64, cbIdentityMax);
        if (json.size() <= kSummaryMaxChars)
            return json;
    }
    for (size_t cbMax = 32;; cbMax /= 2)
    {
        json = format(cbMax, 1);
        if (json.size() <= kSummaryMaxChars || cbMax <= 1)
            return json;
    }
}
