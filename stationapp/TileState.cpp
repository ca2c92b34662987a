#include "TileState.h"

#include "RunOutcome.h"
#include "StringTable.h"

#include <algorithm>
#include <cmath>

using namespace devupdate;
using namespace devupdate::res;
using namespace devupdate::update;
using namespace devupdate::station;

namespace {

// The line of a message that says why: a port error's first line names the
// port, the second the reason.
std::string ReasonLine(const std::string& message)
{
    std::string text = message;
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    const size_t end = text.find('\n');
    if (end == std::string::npos)
        return text;
    const size_t next = text.find('\n', end + 1);
    return text.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1);
}

std::string FirstLine(const std::string& message)
{
    return message.substr(0, message.find('\n'));
}

STileText Ended(bool answered, int status, const std::string& message)
{
    if (!answered && status == EXIT_USAGE_OR_SETUP)
        return {ETileState::PortError, "Port error", ReasonLine(message), -1};
    if (status == EXIT_UPDATED)
        return {ETileState::Passed, "Passed", FirstLine(message), 100};
    if (status == EXIT_CANCELLED)
        return {answered ? ETileState::Cancelled : ETileState::Stopped, answered ? "Cancelled" : "Stopped",
                FirstLine(message), -1};
    if (!answered && status == EXIT_WAKEUP_TIMEOUT)
        return {ETileState::Failed, "No device", "No answer from the device in time.", -1};
    return {ETileState::Failed, "Failed", FirstLine(message), -1};
}

}  // namespace

std::string TimeLeftText(double seconds)
{
    const long whole = std::lround(std::max(0.0, seconds));
    if (whole < 1)
        return "less than 1 s left";
    if (whole < 60)
        return res::Format("%ld s left", whole);
    return res::Format("%ld min %ld s left", whole / 60, whole % 60);
}

STileText DescribeTile(const CStationPort& port, const SLastPass& last, const std::vector<double>& estimates)
{
    if (port.PassNumber() == 0)
        return {ETileState::Idle, "Ready", "", -1};
    if (port.Closed() || port.SawEnd()) {
        STileText text = Ended(port.Answered(), port.SawEnd() ? port.EndStatus() : last.status,
                               port.SawEnd() ? port.Message() : last.message);
        if (text.state == ETileState::Stopped && last.ended && last.answered) {
            const STileText device = Ended(true, last.status, last.message);
            text.detail = "Last device: " + device.big + (device.detail.empty() ? "" : " - " + device.detail);
        }
        return text;
    }
    if (!port.Answered()) {
        // The last device stays on the tile until the next one answers:
        // the operator sees which device to take off the socket.
        if (last.ended && last.answered) {
            STileText text = Ended(true, last.status, last.message);
            text.detail = "Next device: switch it on";
            return text;
        }
        return {ETileState::Waiting, "Waiting for a device", FirstLine(port.Message()), -1};
    }
    const std::vector<SProgressRow>& rows = port.Rows();
    size_t current = 0;
    while (current + 1 < rows.size() && rows[current].percent >= 100)
        ++current;
    double total = 0;
    double done = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const double weight = i < estimates.size() && estimates[i] > 0 ? estimates[i] : 1.0;
        total += weight;
        done += weight * std::clamp(rows[i].percent, 0, 100) / 100.0;
    }
    STileText text{ETileState::Updating,
                   res::Format("Updating %zu of %zu", rows.empty() ? 0 : current + 1, rows.size()), "",
                   total > 0 ? static_cast<int>(100 * done / total) : 0};
    if (estimates.size() >= rows.size() && total > 0)
        text.detail = TimeLeftText(total - done);
    return text;
}
