#pragma once
// The XSVF command codes and their names as the trace and the listing show
// them.

#include <cstdint>

namespace devupdate::xsvf {

enum XsvfCommand : uint8_t {
    XCOMPLETE = 0,
    XTDOMASK = 1,
    XSIR = 2,
    XSDR = 3,
    XRUNTEST = 4,
    XRESERVED5 = 5,
    XRESERVED6 = 6,
    XREPEAT = 7,
    XSDRSIZE = 8,
    XSDRTDO = 9,
    XSETSDRMASKS = 10,
    XSDRINC = 11,
    XSDRB = 12,
    XSDRC = 13,
    XSDRE = 14,
    XSDRTDOB = 15,
    XSDRTDOC = 16,
    XSDRTDOE = 17,
    XSTATE = 18,
    XENDIR = 19,
    XENDDR = 20,
    XSIR2 = 21,
    XCOMMENT = 22,
    XWAIT = 23,
};

constexpr unsigned XSVF_COMMAND_COUNT = 24;

// "XCOMPLETE" ... "XWAIT", "Reserved5"/"Reserved6", "Unknown" from 24 on.
const char* XsvfCommandName(unsigned code);

}  // namespace devupdate::xsvf
