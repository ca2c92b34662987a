#pragma once
// Firmware data are blocks of a 2-byte big-endian count and that many
// bytes (at most MAX_BLOCK_PAYLOAD); this counts the whole blocks as the
// bytes go by, so that data of any size are never held whole.

#include "UpdateFileBody.h"

#include <cstddef>
#include <cstdint>

namespace devupdate::update {

class CFirmwareBlockCounter {
public:
    void Add(uint8_t byte)
    {
        if (m_header < 2) {
            m_count = m_count << 8 | byte;
            if (++m_header == 2)
                BlockHeaderDone();
            return;
        }
        if (--m_left == 0)
            m_header = 0;
    }
    // The number of whole blocks, or -1 when the data do not divide into blocks.
    int Blocks() const { return m_bad || m_header != 0 ? -1 : m_blocks; }

private:
    void BlockHeaderDone()
    {
        if (m_count > MAX_BLOCK_PAYLOAD)
            m_bad = true;
        m_left = m_count;
        m_count = 0;
        ++m_blocks;
        if (m_left == 0)
            m_header = 0;
    }

    int m_header = 0;  // count bytes of the current block read so far
    size_t m_count = 0;
    size_t m_left = 0;
    int m_blocks = 0;
    bool m_bad = false;
};

}  // namespace devupdate::update
