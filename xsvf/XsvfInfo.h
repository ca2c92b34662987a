#pragma once
// The state of one XSVF run and its byte buffers.
//
// A ShiftBuffer holds a bit string most significant byte first: bit 0 of the
// last byte is the first bit shifted into the chain. The record is laid out
// field by field as the trace reports its size, so its size is fixed.

#include <cstdint>

namespace devupdate::xsvf {

constexpr int MAX_LEN = 7000;           // bytes of one buffer
constexpr int MAX_SHIFT_BITS = 8 * MAX_LEN;

struct ShiftBuffer {
    int16_t length;                     // bytes in use
    uint8_t bytes[MAX_LEN];
};

struct SXsvfInfo {
    uint8_t complete;                   // 1 once XCOMPLETE ran
    uint8_t command;                    // code of the command in progress
    int32_t commandCount;               // commands read, the current one included
    int32_t errorCode;                  // result so far, 0 = none
    uint8_t tapState;                   // TAP state the controller is taken to be in
    uint8_t endIrState;
    uint8_t endDrState;
    uint8_t maxRepeat;                  // extra attempts of a failing data shift
    int32_t runTestTime;                // microseconds after each shift
    int32_t shiftLengthBits;
    int16_t shiftLengthBytes;
    ShiftBuffer tdi;
    ShiftBuffer tdoExpected;
    ShiftBuffer tdoCaptured;
    ShiftBuffer tdoMask;
    ShiftBuffer addressMask;            // XSDRINC: added to tdi before each step
    ShiftBuffer dataMask;               // XSDRINC: tdi bits that take new data
    ShiftBuffer nextData;               // XSDRINC: the new bits of one step
};

static_assert(sizeof(ShiftBuffer) == 7002, "ShiftBuffer layout");
static_assert(sizeof(SXsvfInfo) == 49040, "SXsvfInfo layout");

// Zeroes every field and buffer, then sets both end states to RUNTEST/IDLE.
void InitXsvfInfo(SXsvfInfo& info);

// Bytes of a bit string of `bits` bits.
constexpr int BytesForBits(long bits) { return static_cast<int>((bits + 7) / 8); }

}  // namespace devupdate::xsvf
