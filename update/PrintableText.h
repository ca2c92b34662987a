#pragma once
// Text that comes from an update file (target names, XSVF comments) is shown
// on terminals and in the window. A file must not be able to clear the screen
// or retitle the terminal, so control characters are shown as escapes.

#include <string>
#include <string_view>

namespace devupdate::update {

// Returns `text` with every control character except tab written as "\xHH"
// (lower-case hex): C0 controls, DEL, and the C1 controls U+0080..U+009F,
// escaped byte by byte whether they come UTF-8 encoded (C2 80..C2 9F) or as
// single bytes 0x80..0x9F outside a UTF-8 sequence. Every other byte is kept.
std::string PrintableText(std::string_view text);

}  // namespace devupdate::update
