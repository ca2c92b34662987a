#pragma once
// The supervision of a station: one device per port at the same time, each
// pass run by a child process of its own (update-cli --json for that port),
// its events read from a pipe. With `station` set each port goes on with
// the next device after a pass, until stopped or `passCount` passes. The
// caller owns the loop: it polls, ends the passes that are done and passes
// on the signals it takes.

#include "StationChild.h"
#include "StationPort.h"
#include "StationView.h"

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace devupdate::station {

// At most this many ports run at once.
constexpr size_t MAX_STATION_PORTS = 16;
// What the front ends say when more ports are named.
std::string TooManyPortsText();

struct SStationSettings {
    std::string program;               // the update-cli each pass runs; empty: this program
    std::string file;                  // the update file
    bool station = false;              // passes go on after the first
    unsigned passCount = 0;            // passes per port; 0: until stopped
    double wakeupTimeoutSeconds = 0;   // 0: none
    std::string logFile;               // the run log each pass appends to; empty: none
    bool requireSignature = false;     // each pass refuses a file without a trusted signature
};

class CStation {
public:
    CStation(SStationSettings settings, std::vector<CStationPort> ports, CStationView& view);

    // Tells the view and begins every port's first pass.
    void Start();
    // Waits up to timeoutMs for the children's output and for wakeFd (-1:
    // none), reads what came; onWake is called first when wakeFd is readable.
    void Poll(int timeoutMs, int wakeFd, const std::function<void()>& onWake);
    // Ends the passes whose child has ended; begins their next pass.
    void EndPassesDone();
    // No new pass starts. Each run is told what a single run would be told.
    void Signal(int signal);

    bool AnyPortOpen() const;
    bool Stopping() const { return m_stopping; }
    // 0 when every port updated every target of every pass, else the most
    // serious of the ports' statuses (MoreSeriousExitStatus).
    int ExitStatus() const;
    const std::vector<CStationPort>& Ports() const { return m_ports; }

private:
    void StartPass(size_t index);
    std::vector<std::string> PassArguments(const CStationPort& port) const;
    // The name of the program each pass runs, for its argv[0] and messages.
    std::string ChildName() const;
    void ReadChild(size_t index, int fd);
    void EndPassWhenDone(size_t index);
    // Moves the port's trace to xsvf_debug-PORT-passN.txt: the next pass
    // would overwrite the record of a failed one.
    void KeepTrace(size_t index);

    SStationSettings m_settings;
    std::vector<CStationPort> m_ports;
    std::vector<std::unique_ptr<CStationChild>> m_children;
    // Per port: when its pass began, by the clock file times come from.
    std::vector<timespec> m_passStart;
    CStationView& m_view;
    bool m_stopping = false;
};

}  // namespace devupdate::station
