#pragma once
// The XSVF stream as text for people: one command per line, "N: NAME args",
// numbered from 1 as the player counts commands, so that the trace's "See
// line #N in the XSVF ASCII file" points at the command. Lengths, times and
// states in decimal (states with their names), data in hex ("0x" + "%02x" per
// byte, as in the trace), comments quoted. The byte layout follows the
// player: XSDRSIZE sets the data length, XSDRINC's groups follow the number
// of 1 bits of the last XSETSDRMASKS data mask.
//
// The listing ends after XCOMPLETE. A line starting with "-- " after the
// commands notes why it ended otherwise: the stream ended (within a command
// or before XCOMPLETE), an unsupported command, a length over the player's
// buffers; and bytes left after XCOMPLETE. Never throws on any input.
//
// The listing streams: it reads the bytes as it lists them and hands the
// text out line by line, a long comment in pieces, so that memory does not
// grow with the stream. A comment cut off by the stream's end after pieces
// went out ends in a closing quote before the " ..." mark.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace devupdate::xsvf {

// The next byte of the stream; false at its end.
using XsvfByteSource = std::function<bool(uint8_t& byte)>;
// Receives the listing's text in order.
using ListingSink = std::function<void(std::string_view text)>;

void ListXsvf(const XsvfByteSource& source, const ListingSink& out);
// The whole listing of a stream held in memory.
std::string ListXsvf(const std::vector<uint8_t>& stream);

}  // namespace devupdate::xsvf
