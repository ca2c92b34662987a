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

#include <cstdint>
#include <string>
#include <vector>

std::string ListXsvf(const std::vector<uint8_t>& stream);
