// A station child's standard output as the station reads it: each line an
// event when it is JSON, applied to the port and shown by every view.

#include "FuzzCheck.h"
#include "FuzzHarnesses.h"
#include "OutputStream.h"
#include "RunOutcome.h"
#include "StationPort.h"
#include "StationViews.h"

#include <fcntl.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

using namespace devupdate;
using namespace devupdate::update;
using namespace devupdate::station;

using station::CStationPort;

namespace {

int NullFd()
{
    static const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0);
    return fd;
}

}  // namespace

int FuzzStationEvents(const uint8_t* data, size_t size)
{
    static COutputStream out(NullFd());
    static COutputStream err(NullFd());
    std::vector<CStationPort> ports{CStationPort("/dev/ttyUSB0", "/dev/ttyUSB0 (adapter)", "xsvf_debug-ttyUSB0.txt")};
    CStationPort& port = ports.front();
    CStationTextView plain(out, err, false, false, true);
    CStationTextView live(out, err, true, false, true);
    CStationJsonView json(out, err, true);
    station::CStationView* const views[] = {&plain, &live, &json};
    for (station::CStationView* view : views)
        view->Start(ports);
    port.BeginPass();
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        if (event.is_discarded())
            continue;
        port.Apply(event);
        for (station::CStationView* view : views) {
            view->ChildEvent(port, line, event);
            view->Refresh(ports);
        }
        FUZZ_CHECK(port.Rows().size() <= 10);
    }
    const int status = port.EndPass(port.SawEnd() ? 0 : -9, false);
    FUZZ_CHECK(port.SawEnd() ? status == port.EndStatus() : status == EXIT_RUN_FAILED);
    FUZZ_CHECK(port.Counts().Total() == (port.Answered() ? 1u : 0u));
    for (station::CStationView* view : views) {
        view->PassEnded(port, status);
        view->Summary(ports, port.ExitStatus());
    }
    out.Pump();
    err.Pump();
    return 0;
}
