// STUB: stands in for the XSVF player until it lands; every XSVF target
// fails with "unknown error". Removed together with the real player's arrival.
#include "XsvfPlayer.h"

#include "StringTable.h"

int PlayXsvf(CXsvfHost&)
{
    return XSVF_ERROR_UNKNOWN;
}

std::string XsvfErrorText(int)
{
    return res::LoadString(res::IDS_XSVF_UNKNOWN);
}
