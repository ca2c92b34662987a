#pragma once
// The fault table: each phase of a run crossed with each fault the device or
// the user can bring, as devsim fault rules plus what the front end does.

#include "FaultRule.h"
#include "UpdateFileWriter.h"

#include <chrono>
#include <string>
#include <vector>

enum class EStage {
    Wakeup, Start, Selection, FirstBlock, MiddleBlock, LastBlock,  // firmware target
    PinFrame, ShiftFrame, ReadBack, Wait, Finish,                   // XSVF target
};

enum class EFault {
    Silence,          // no answer from that unit on
    Garbage,          // bytes that are no protocol answer instead of the answer
    CrcWithinLimit,   // "bad CRC" as often as the tool resends
    CrcBeyondLimit,   // once more than that
    BusyStorm,        // hundreds of busy bytes before the answer
    Vanish,           // the adapter is unplugged
    Cancel,           // the user cancels while the device works on the unit
    CancelWhileBusy,  // the user cancels while the device sends busy bytes
    WrongReadBackCrc, // (read-back only) a read-back frame with a wrong CRC
};

const char* StageName(EStage stage);
const char* FaultName(EFault fault);
bool IsXsvfStage(EStage stage);

// The device's faults for a cell. Cancel cells answer late or busy so that
// the user's cancel meets the device at work; CancelWhileBusy needs a paced line.
std::vector<devupdate::devsim::SFaultRule> FaultRulesFor(EStage stage, EFault fault);
bool NeedsPacedLine(EFault fault);
bool IsCancel(EFault fault);
// The devsim phase whose count tells that the cell's unit has arrived.
devupdate::devsim::EPhase TriggerPhase(EStage stage);
unsigned TriggerCount(EStage stage);

// The update file of a cell: one firmware target of three blocks, or one
// XSVF target that checks the model part's IDCODE with a wait after each shift.
devupdate::mkupd::SUpdateFile UpdateFileFor(EStage stage);
