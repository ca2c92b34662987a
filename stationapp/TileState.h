#pragma once
// What a station port's tile says, from the port's state: one big word or
// two for the operator two metres away, a line of detail, the bar.

#include "StationPort.h"

#include <string>
#include <vector>

enum class ETileState { Idle, Waiting, Updating, Passed, Failed, PortError, Cancelled, Stopped };

struct STileText {
    ETileState state = ETileState::Idle;
    std::string big;     // "Updating 2 of 3"
    std::string detail;  // the message, the time left, the reason
    int percent = -1;    // the pass's bar; -1: none
};

// The last pass's end as the tile keeps showing it while the port waits
// for its next device (a pass stopped while it waited leaves it as it was).
struct SLastPass {
    bool ended = false;
    bool answered = false;
    int status = 0;
    std::string message;
};

// `estimates`: each target's estimated seconds on the line (empty: unknown),
// for the pass's bar and time left.
STileText DescribeTile(const devupdate::station::CStationPort& port, const SLastPass& last, const std::vector<double>& estimates);

// "12 s left", "1 min 5 s left".
std::string TimeLeftText(double seconds);
