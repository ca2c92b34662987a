#include "DeviceProtocol.h"

#include "Crc16.h"

using namespace devupdate::xsvf;
using namespace devupdate::svf;

namespace devupdate::devsim {

namespace {

constexpr uint8_t CMD_WAKEUP = 0xA4;
constexpr uint8_t CMD_START = 0xA3;
constexpr uint8_t CMD_SELECT = 0xA0;
constexpr uint8_t CMD_END = 0xA2;
constexpr uint8_t ANS_ACK = 0x11;
constexpr uint8_t ANS_RETRY = 0x22;
constexpr uint8_t ANS_WAIT = 0x33;
constexpr uint8_t ANS_REFUSE = 0x44;
constexpr uint8_t ANS_READY = 0x88;
constexpr uint8_t ANS_MISMATCH = 0x99;

constexpr size_t MAX_BLOCK_HIGH = 0x03;  // blocks of up to 0x3FF bytes
constexpr size_t MIN_FRAME = 3;          // command byte and CRC
constexpr size_t MAX_FRAME = 1024;
constexpr auto BUSY_INTERVAL = std::chrono::milliseconds(100);

bool IsAnswerByte(uint8_t b)
{
    return b == ANS_ACK || b == ANS_RETRY || b == ANS_WAIT || b == ANS_REFUSE ||
           b == ANS_READY || b == ANS_MISMATCH;
}

}  // namespace

CDeviceProtocol::CDeviceProtocol(const SDevsimConfig& config, CTrafficLog& log,
                                 DevClock::time_point now)
    : m_config(config), m_log(log), m_powerReference(now)
{
    m_faults.SetRules(config.faults);
    if (config.svfScans)
        m_jtag.ExpectSvf(*config.svfScans);
}

void CDeviceProtocol::PowerOff(DevClock::time_point now)
{
    m_state = EState::Off;
    m_powerReference = now;
    m_offWakeups = 0;
    m_unitOpen = false;
}

bool CDeviceProtocol::InJtag() const
{
    return m_state == EState::FrameLenHigh || m_state == EState::FrameLenLow ||
           m_state == EState::FrameBody;
}

void CDeviceProtocol::Feed(uint8_t byte, DevClock::time_point readTime,
                           DevClock::time_point arrival, SDeviceOutput& out)
{
    m_lastRx = readTime;
    if (m_state == EState::Off) {
        if (byte != CMD_WAKEUP)
            return;
        ++m_offWakeups;
        const bool delayOver = arrival - m_powerReference >= m_config.powerOnDelay;
        if (!delayOver || m_offWakeups <= m_config.powerOnAfterWakeups)
            return;
        m_state = EState::Awake;
    }
    // A unit starts with the first byte read in a state that waits for one.
    const bool unitStart = m_state == EState::Awake || m_state == EState::Selected ||
                           m_state == EState::FrameLenHigh ||
                           (m_state == EState::SelectNumber && !m_unitOpen);
    if (unitStart)
        BeginUnit(readTime);
    FeedPowered(byte, arrival, out);
}

void CDeviceProtocol::BeginUnit(DevClock::time_point readTime)
{
    m_unitOpen = true;
    m_unitFirstRx = readTime;
}

void CDeviceProtocol::FeedPowered(uint8_t byte, DevClock::time_point arrival, SDeviceOutput& out)
{
    switch (m_state) {
    case EState::Off: break;
    case EState::Awake:
        if (byte == CMD_WAKEUP)
            Complete(EPhase::Wakeup, false, arrival, out, [] { return Answer{{ANS_ACK, {}}}; });
        else if (byte == CMD_START)
            Complete(EPhase::Start, false, arrival, out, [this] {
                Answer a(m_config.extraAcks, STimed{ANS_ACK, {}});
                a.push_back({ANS_READY, {}});
                return a;
            });
        else if (byte == CMD_SELECT)
            m_state = EState::SelectNumber;
        else if (byte == CMD_END)
            EndSession(arrival, out);
        else
            m_unitOpen = false;  // not a command: ignored
        break;
    case EState::SelectNumber:
        m_number = byte;
        m_state = EState::SelectComplement;
        break;
    case EState::SelectComplement:
        m_scratch = byte;  // the complement, checked in SelectTarget
        m_state = EState::SelectNumber;
        Complete(EPhase::Select, false, arrival, out, [this] { return SelectTarget(); });
        break;
    case EState::Selected:
        if (byte == 0xFF) {
            m_state = EState::TypeLow;
        } else if (byte <= MAX_BLOCK_HIGH) {
            m_expected = static_cast<size_t>(byte) << 8;
            m_state = EState::BlockCountLow;
        } else if (byte == CMD_SELECT) {
            m_state = EState::SelectNumber;
        } else if (byte == CMD_END) {
            EndSession(arrival, out);
        } else {
            m_unitOpen = false;
        }
        break;
    case EState::TypeLow:
        m_state = EState::Selected;
        Complete(EPhase::Type, false, arrival, out, [this, byte] {
            m_scratch = byte;
            return AcceptType();
        });
        break;
    case EState::BlockCountLow:
        m_expected |= byte;
        m_buffer.clear();
        m_state = EState::BlockData;
        if (m_expected == 0) {
            m_state = EState::Selected;
            Complete(EPhase::Block, false, arrival, out, [this] { return AcceptBlock(); });
        }
        break;
    case EState::BlockData:
        m_buffer.push_back(byte);
        if (m_buffer.size() == m_expected) {
            m_state = EState::Selected;
            Complete(EPhase::Block, false, arrival, out, [this] { return AcceptBlock(); });
        }
        break;
    case EState::FrameLenHigh:
        if (byte == CMD_END) {
            out.dropPending = true;  // the tool's cancel while the device was busy
            EndSession(arrival, out);
        } else if (byte == CMD_SELECT) {
            m_state = EState::SelectNumber;
        } else {
            m_expected = static_cast<size_t>(byte) << 8;
            m_state = EState::FrameLenLow;
        }
        break;
    case EState::FrameLenLow:
        m_expected |= byte;
        m_buffer.clear();
        if (m_expected < MIN_FRAME || m_expected > MAX_FRAME) {
            m_state = EState::FrameLenHigh;
            AnswerMalformed(arrival, out);
        } else {
            m_state = EState::FrameBody;
        }
        break;
    case EState::FrameBody: {
        m_buffer.push_back(byte);
        if (m_buffer.size() < m_expected)
            break;
        m_state = EState::FrameLenHigh;
        const size_t n = m_buffer.size() - 2;
        const uint16_t crc = static_cast<uint16_t>(m_buffer[n] << 8 | m_buffer[n + 1]);
        if (Crc16(m_buffer.data(), n) != crc) {
            AnswerMalformed(arrival, out);
            break;
        }
        EPhase phase = EPhase::AnyFrame;
        switch (m_buffer[0]) {
        case FRAME_PINS: phase = EPhase::Pins; break;
        case FRAME_SHIFT: phase = EPhase::Shift; break;
        case FRAME_READ_TDO: phase = EPhase::ReadTdo; break;
        case FRAME_DELAY: phase = EPhase::Delay; break;
        case FRAME_FINISH: phase = EPhase::Finish; break;
        default: break;
        }
        Complete(phase, phase != EPhase::AnyFrame, arrival, out,
                 [this, phase] { return CarryOutFrame(phase); });
        break;
    }
    }
}

template <typename CarryOut>
void CDeviceProtocol::Complete(EPhase phase, bool jtagFrame, DevClock::time_point arrival,
                               SDeviceOutput& out, CarryOut carryOut)
{
    const std::optional<SFaultRule> rule = m_faults.Next(phase, jtagFrame);
    SExchange x;
    x.phase = phase;
    x.nth = m_faults.Count(phase);
    x.firstRx = m_unitOpen ? m_unitFirstRx : m_lastRx;
    x.lastRx = m_lastRx;
    x.lastArrival = arrival;
    m_unitOpen = false;

    Answer answer;
    if (!rule) {
        answer = carryOut();
    } else {
        switch (rule->action) {
        case EFaultAction::Reject: answer = {{ANS_RETRY, {}}}; break;
        case EFaultAction::Drop: break;
        case EFaultAction::Vanish: out.vanish = true; return;
        case EFaultAction::Replace:
            carryOut();
            for (uint8_t b : rule->bytes)
                answer.push_back({b, {}});
            break;
        case EFaultAction::Silent: carryOut(); break;
        case EFaultAction::Garbage:
            carryOut();
            answer = Garbage(rule->count);
            break;
        case EFaultAction::Busy:
            answer.assign(rule->count, STimed{ANS_WAIT, {}});
            for (const STimed& t : carryOut())
                answer.push_back(t);
            break;
        case EFaultAction::Late:
            answer = carryOut();
            for (STimed& t : answer)
                t.offset += std::chrono::milliseconds(rule->count);
            break;
        case EFaultAction::Corrupt:
            answer = carryOut();
            if (!answer.empty())
                answer.back().byte = static_cast<uint8_t>(~answer.back().byte);
            break;
        }
    }
    x.answerBytes = answer.size();
    const size_t index = m_log.AddExchange(x);
    Queue(answer, arrival, index, out);
}

void CDeviceProtocol::Queue(const Answer& answer, DevClock::time_point arrival, size_t exchange,
                            SDeviceOutput& out)
{
    for (const STimed& t : answer)
        out.bytes.push_back({t.byte, arrival + t.offset, exchange});
}

void CDeviceProtocol::AnswerMalformed(DevClock::time_point arrival, SDeviceOutput& out)
{
    SExchange x;
    x.phase = EPhase::AnyFrame;
    x.firstRx = m_unitOpen ? m_unitFirstRx : m_lastRx;
    x.lastRx = m_lastRx;
    x.lastArrival = arrival;
    x.answerBytes = 1;
    m_unitOpen = false;
    Queue({{ANS_RETRY, {}}}, arrival, m_log.AddExchange(x), out);
}

void CDeviceProtocol::EndSession(DevClock::time_point arrival, SDeviceOutput& out)
{
    ++m_sessionsEnded;
    out.sessionEnded = true;
    PowerOff(arrival);
}

CDeviceProtocol::Answer CDeviceProtocol::SelectTarget()
{
    const uint8_t complement = m_scratch;
    if (complement != static_cast<uint8_t>(~m_number))
        return {{ANS_RETRY, {}}};  // m_state stays SelectNumber: n, ~n again
    if (m_config.refusedTargets.count(m_number)) {
        m_state = EState::Awake;
        return {{ANS_REFUSE, {}}};
    }
    m_state = EState::Selected;
    m_images[m_number].clear();
    return {{ANS_ACK, {}}};
}

CDeviceProtocol::Answer CDeviceProtocol::AcceptType()
{
    // Only FF 00 (an XSVF target) is known; the high byte was 0xFF to get here.
    if (m_scratch != 0x00) {
        m_state = EState::Awake;
        return {{ANS_REFUSE, {}}};
    }
    m_jtag.ClearSections();
    m_state = EState::FrameLenHigh;
    return {{ANS_ACK, {}}};
}

CDeviceProtocol::Answer CDeviceProtocol::AcceptBlock()
{
    size_t payload = m_buffer.size();
    if (m_config.blockCrc) {
        if (payload < 2)
            return {{ANS_RETRY, {}}};
        payload -= 2;
        const uint16_t crc = static_cast<uint16_t>(m_buffer[payload] << 8 | m_buffer[payload + 1]);
        if (Crc16(m_buffer.data(), payload) != crc)
            return {{ANS_RETRY, {}}};
    }
    std::vector<uint8_t>& image = m_images[m_number];
    image.insert(image.end(), m_buffer.begin(), m_buffer.begin() + static_cast<long>(payload));
    Answer a(m_config.busyPerBlock, STimed{ANS_WAIT, {}});
    a.push_back({ANS_ACK, {}});
    return a;
}

CDeviceProtocol::Answer CDeviceProtocol::CarryOutFrame(EPhase /*phase*/)
{
    const SJtagResult r = m_jtag.Execute(m_buffer.data(), m_buffer.size() - 2);
    if (!r.accepted)
        return {{ANS_RETRY, {}}};
    if (r.finished)
        m_state = EState::Awake;
    Answer a;
    const uint32_t busy = r.delayMicroseconds / 100000;
    for (uint32_t i = 1; i <= busy; ++i)
        a.push_back({ANS_WAIT, m_config.realDelays ? BUSY_INTERVAL * i : DevClock::duration{}});
    const auto wait = std::chrono::microseconds(r.delayMicroseconds);
    if (m_config.realDelays)
        m_busyTime += wait;
    for (uint8_t b : r.answer)
        a.push_back({b, m_config.realDelays ? DevClock::duration(wait) : DevClock::duration{}});
    return a;
}

CDeviceProtocol::Answer CDeviceProtocol::Garbage(unsigned count)
{
    Answer a;
    while (a.size() < count) {
        m_garbageSeed = m_garbageSeed * 1103515245u + 12345u;
        const uint8_t b = static_cast<uint8_t>(m_garbageSeed >> 16);
        if (!IsAnswerByte(b))
            a.push_back({b, {}});
    }
    return a;
}

}  // namespace devupdate::devsim
