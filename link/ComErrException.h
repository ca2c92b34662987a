#pragma once
// The one exception of the XSVF player: carries a player result code (9..13)
// out of its byte reader and JTAG transport. Thrown and caught by value.

#include <cstdint>

namespace devupdate::link {

class CComErrException {
public:
    explicit CComErrException(int32_t code) : m_code(code) {}
    int32_t m_code;
};

}  // namespace devupdate::link
