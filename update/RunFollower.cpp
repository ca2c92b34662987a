#include "RunFollower.h"

using namespace devupdate::link;
using namespace devupdate::xsvf;

namespace devupdate::update {

const SRunSnapshot& CRunFollower::Look()
{
    m_seen = m_run.Snapshot();
    return m_seen;
}

bool CRunFollower::TakeAnswer()
{
    if (!m_run.DeviceAnswered()) {
        m_answerTaken = false;  // a new run has started
        return false;
    }
    if (m_answerTaken)
        return false;
    m_answerTaken = true;
    return true;
}

}  // namespace devupdate::update
