// Helpers shared by the firmware-facing fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fuzz
{

inline void Check(bool blCondition)
{
    if (!blCondition)
        abort();
}

// Reads the input front to back; past its end every read gives zeros.
class Reader
{
public:
    Reader(const uint8_t* pb, size_t cb) : m_pb(pb), m_cb(cb) {}
    uint8_t Byte() { return m_n < m_cb ? m_pb[m_n++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | Byte() << 8); }
    uint32_t Dword() { return Word() | static_cast<uint32_t>(Word()) << 16; }
    // Copies up to cb of the remaining bytes to pDst; returns how many.
    size_t Rest(uint8_t* pDst, size_t cb)
    {
        size_t n = m_cb - m_n < cb ? m_cb - m_n : cb;
        memcpy(pDst, m_pb + m_n, n);
        m_n += n;
        return n;
    }

private:
    const uint8_t* m_pb;
    size_t m_cb;
    size_t m_n = 0;
};

inline uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// An exactly sized heap buffer: ASan reports any access one byte past it.
// Filled with bFill, then the input's bytes are laid in at wAt (clipped at
// the end), so short inputs reach the last bytes of a large buffer too.
struct Image
{
    Image(size_t cb, uint8_t bFill) : pb(new uint8_t[cb]), cb(cb) { memset(pb, bFill, cb); }
    ~Image() { delete[] pb; }
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    void Place(Reader& in, size_t nAt)
    {
        if (nAt < cb)
            in.Rest(pb + nAt, cb - nAt);
    }
    uint8_t* pb;
    size_t cb;
};

} // namespace fuzz
