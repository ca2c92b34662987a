#pragma once
// What the supervision of a station tells whoever shows it: the ports'
// passes as they begin, report and end.

#include "StationPort.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace devupdate::station {

class CStationView {
public:
    virtual ~CStationView() = default;
    // Before the first pass: which port leads where.
    virtual void Start(const std::vector<CStationPort>& ports) = 0;
    // A line of the pass's standard output, and the event parsed from it
    // (discarded when the line is no JSON), already applied to the port.
    virtual void ChildEvent(const CStationPort& port, const std::string& line, const nlohmann::json& event) = 0;
    // A line of the pass's standard error.
    virtual void ChildError(const CStationPort& port, const std::string& line) = 0;
    // The pass ended without an end event: the reason and the pass's status.
    virtual void PassLost(const CStationPort& port, const std::string& reason, int status) = 0;
    // The pass ended with this status (the port's counts include it).
    virtual void PassEnded(const CStationPort& port, int status) = 0;
    // The failed pass's trace was moved to `path`, out of the next pass's way.
    virtual void TraceKept(const CStationPort& port, const std::string& path) = 0;
    // Called every tick: live figures.
    virtual void Refresh(const std::vector<CStationPort>& ports) { (void)ports; }
    // Every port has ended.
    virtual void Summary(const std::vector<CStationPort>& ports, int exitStatus) = 0;
};

}  // namespace devupdate::station
