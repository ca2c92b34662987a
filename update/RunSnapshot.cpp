#include "RunSnapshot.h"

#include "StringTable.h"
#include "UpdateRunState.h"

using namespace devupdate::link;
using namespace devupdate::xsvf;
using namespace devupdate::res;

namespace devupdate::update {

std::string RowText(int percent, const std::string& status)
{
    return res::Format("%d%% %s", percent, status.c_str());
}

bool SRunSnapshot::Ended() const
{
    return runState == RunEnded || runState == RunEndedWithMessage;
}

}  // namespace devupdate::update
