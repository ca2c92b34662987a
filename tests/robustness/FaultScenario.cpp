#include "FaultScenario.h"

#include "ModelPart.h"
#include "XsvfWriter.h"

using namespace devupdate;
using namespace devupdate::xsvf;
using namespace devupdate::update;
using namespace devupdate::devsim;
using namespace devupdate::mkupd;
using namespace devupdate::xsvfgen;

namespace {

// The update protocol ends a run at the 4th unexpected answer in a row; a
// JTAG frame goes out at most six times.
constexpr unsigned PROTOCOL_CRC_LIMIT = 3;
constexpr unsigned FRAME_CRC_LIMIT = 5;
constexpr unsigned GARBAGE_BYTES = 6;
constexpr unsigned BUSY_STORM_BYTES = 400;
// At 57600 baud about 0.5 s of busy bytes: time enough for the user's cancel.
constexpr unsigned LONG_BUSY_BYTES = 3000;
constexpr unsigned LATE_MS = 200;

}  // namespace

const char* StageName(EStage stage)
{
    switch (stage) {
    case EStage::Wakeup: return "Wakeup";
    case EStage::Start: return "Start";
    case EStage::Selection: return "Selection";
    case EStage::FirstBlock: return "FirstBlock";
    case EStage::MiddleBlock: return "MiddleBlock";
    case EStage::LastBlock: return "LastBlock";
    case EStage::PinFrame: return "PinFrame";
    case EStage::ShiftFrame: return "ShiftFrame";
    case EStage::ReadBack: return "ReadBack";
    case EStage::Wait: return "Wait";
    case EStage::Finish: return "Finish";
    }
    return "?";
}

const char* FaultName(EFault fault)
{
    switch (fault) {
    case EFault::Silence: return "Silence";
    case EFault::Garbage: return "Garbage";
    case EFault::CrcWithinLimit: return "CrcWithinLimit";
    case EFault::CrcBeyondLimit: return "CrcBeyondLimit";
    case EFault::BusyStorm: return "BusyStorm";
    case EFault::Vanish: return "Vanish";
    case EFault::Cancel: return "Cancel";
    case EFault::CancelWhileBusy: return "CancelWhileBusy";
    case EFault::WrongReadBackCrc: return "WrongReadBackCrc";
    }
    return "?";
}

bool IsXsvfStage(EStage stage) { return stage >= EStage::PinFrame; }
bool NeedsPacedLine(EFault fault) { return fault == EFault::CancelWhileBusy; }
bool IsCancel(EFault fault) { return fault == EFault::Cancel || fault == EFault::CancelWhileBusy; }

EPhase TriggerPhase(EStage stage)
{
    switch (stage) {
    case EStage::Wakeup: return EPhase::Wakeup;
    case EStage::Start: return EPhase::Start;
    case EStage::Selection: return EPhase::Select;
    case EStage::FirstBlock:
    case EStage::MiddleBlock:
    case EStage::LastBlock: return EPhase::Block;
    case EStage::PinFrame: return EPhase::Pins;
    case EStage::ShiftFrame: return EPhase::Shift;
    case EStage::ReadBack: return EPhase::ReadTdo;
    case EStage::Wait: return EPhase::Delay;
    case EStage::Finish: return EPhase::Finish;
    }
    return EPhase::Wakeup;
}

unsigned TriggerCount(EStage stage)
{
    switch (stage) {
    case EStage::MiddleBlock: return 2;
    case EStage::LastBlock: return 3;
    default: return 1;
    }
}

std::vector<SFaultRule> FaultRulesFor(EStage stage, EFault fault)
{
    const EPhase phase = TriggerPhase(stage);
    const unsigned nth = TriggerCount(stage);
    const unsigned crcLimit = IsXsvfStage(stage) ? FRAME_CRC_LIMIT : PROTOCOL_CRC_LIMIT;
    std::vector<SFaultRule> rules;
    // The read-back follows a shift the device reports as mismatching; the
    // retry of that shift then passes.
    if (stage == EStage::ReadBack)
        rules.push_back({EPhase::Shift, 2, 1, EFaultAction::Replace, {0x99}, 0});
    switch (fault) {
    case EFault::Silence:
        rules.push_back({phase, nth, 0, EFaultAction::Silent, {}, 0});
        break;
    case EFault::Garbage:
        rules.push_back({phase, nth, 1, EFaultAction::Garbage, {}, GARBAGE_BYTES});
        break;
    case EFault::CrcWithinLimit:
        rules.push_back({phase, nth, crcLimit, EFaultAction::Reject, {}, 0});
        break;
    case EFault::CrcBeyondLimit:
        rules.push_back({phase, nth, crcLimit + 1, EFaultAction::Reject, {}, 0});
        break;
    case EFault::BusyStorm:
        rules.push_back({phase, nth, 1, EFaultAction::Busy, {}, BUSY_STORM_BYTES});
        break;
    case EFault::Vanish:
        rules.push_back({phase, nth, 1, EFaultAction::Vanish, {}, 0});
        break;
    case EFault::Cancel:
        rules.push_back({phase, nth, 1, EFaultAction::Late, {}, LATE_MS});
        break;
    case EFault::CancelWhileBusy:
        rules.push_back({phase, nth, 1, EFaultAction::Busy, {}, LONG_BUSY_BYTES});
        break;
    case EFault::WrongReadBackCrc:
        rules.push_back({phase, nth, 1, EFaultAction::Corrupt, {}, 0});
        break;
    }
    return rules;
}

mkupd::SUpdateFile UpdateFileFor(EStage stage)
{
    mkupd::SUpdateTarget target;
    target.number = 1;
    if (!IsXsvfStage(stage)) {
        target.name = "Board";
        std::vector<uint8_t> image(30);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>(i * 11);
        target.data = mkupd::MakeFirmwareBlocks(image, 10, false);
    } else {
        target.name = "Logic";
        target.type = mkupd::TYPE_XSVF;
        CXsvfWriter xsvf;
        // The IDCODE goes in as TDI too, so that a retry shifting the DR
        // again (without a new capture) reads it back unchanged.
        xsvf.Repeat(1).RunTest(1000).Sir(8, {INS_IDCODE}).SdrSize(32).TdoMask(0xFFFFFFFF);
        xsvf.SdrTdo(MODEL_IDCODE, MODEL_IDCODE).Complete();
        target.data = xsvf.Stream();
    }
    return {mkupd::FileVersion::V1_01, {target}, -1};
}
