#include "platform/CodePage.h"

#include <iconv.h>

#include <array>
#include <cstdint>

namespace platform {

// Unicode code points of code page 437 bytes 0x80 to 0xFF.
static const std::array<uint16_t, 128> Cp437High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

bool IsAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// Decodes one UTF-8 character at s[i]; false for an invalid or overlong sequence.
static bool DecodeUtf8(std::string_view s, size_t& i, uint32_t& cp)
{
    unsigned char c = s[i];
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size())
        return false;
    cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = s[i + k];
        if ((cc & 0xC0) != 0x80)
            return false;
        cp = cp << 6 | (cc & 0x3F);
    }
    static const uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += extra + 1;
    return true;
}

bool IsValidUtf8(std::string_view s)
{
    uint32_t cp;
    for (size_t i = 0; i < s.size();)
        if (!DecodeUtf8(s, i, cp))
            return false;
    return true;
}

static void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::string Cp437ToUtf8(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s)
        AppendUtf8(out, c < 0x80 ? c : Cp437High[c - 0x80]);
    return out;
}

std::string CodePageToUtf8(std::string_view s, const std::string& codePage)
{
    if (codePage.empty())
        return Cp437ToUtf8(s);
    const iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == iconv_t(-1))
        return Cp437ToUtf8(s);
    std::string in(s), out(4 * s.size() + 4, '\0');
    char* from = in.data();
    char* to = out.data();
    size_t left = in.size(), room = out.size();
    const size_t result = iconv(cd, &from, &left, &to, &room);
    iconv_close(cd);
    if (result == size_t(-1) || left != 0)
        return Cp437ToUtf8(s);
    out.resize(out.size() - room);
    return out;
}

bool KnownCodePage(const std::string& codePage)
{
    const iconv_t cd = iconv_open("UTF-8", codePage.c_str());
    if (cd == iconv_t(-1))
        return false;
    iconv_close(cd);
    return true;
}

bool Utf8ToCp437(std::string_view s, std::string& out)
{
    std::string result;
    result.reserve(s.size());
    uint32_t cp;
    for (size_t i = 0; i < s.size();) {
        if (!DecodeUtf8(s, i, cp))
            return false;
        if (cp < 0x80) {
            result += char(cp);
            continue;
        }
        size_t k = 0;
        while (k < Cp437High.size() && Cp437High[k] != cp)
            ++k;
        if (k == Cp437High.size())
            return false;
        result += char(0x80 + k);
    }
    out = std::move(result);
    return true;
}

}  // namespace platform
