// CXsvfWriter byte layouts, and the model part's program stream played
// into the JTAG engine: a right stream programs and verifies, a wrong one fails.

#include "JtagEngine.h"
#include "ModelPartProgram.h"
#include "XsvfWriter.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace devupdate::xsvf;
using namespace devupdate::devsim;
using namespace devupdate::svf;
using namespace devupdate::xsvfgen;

namespace {

struct SLayout {
    const char* name;
    std::function<void(CXsvfWriter&)> build;
    Bytes bytes;
};

class XsvfLayoutTest : public ::testing::TestWithParam<SLayout> {};

TEST_P(XsvfLayoutTest, EmitsTheCommandBytes)
{
    CXsvfWriter w;
    GetParam().build(w);
    EXPECT_EQ(w.Stream(), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Commands, XsvfLayoutTest, ::testing::Values(
    SLayout{"Complete", [](CXsvfWriter& w) { w.Complete(); }, {0x00}},
    SLayout{"TdoMask", [](CXsvfWriter& w) { w.SdrSize(12).TdoMask(0x0FFF); },
            {0x08, 0, 0, 0, 12, 0x01, 0x0F, 0xFF}},
    SLayout{"Sir", [](CXsvfWriter& w) { w.Sir(10, {0x03, 0xFF}); }, {0x02, 10, 0x03, 0xFF}},
    SLayout{"Sdr", [](CXsvfWriter& w) { w.SdrSize(16).Sdr(0x1234); },
            {0x08, 0, 0, 0, 16, 0x03, 0x12, 0x34}},
    SLayout{"RunTest", [](CXsvfWriter& w) { w.RunTest(1000); }, {0x04, 0, 0, 0x03, 0xE8}},
    SLayout{"Repeat", [](CXsvfWriter& w) { w.Repeat(32); }, {0x07, 32}},
    SLayout{"SdrSize", [](CXsvfWriter& w) { w.SdrSize(56001); }, {0x08, 0, 0, 0xDA, 0xC1}},
    SLayout{"SdrTdo", [](CXsvfWriter& w) { w.SdrSize(8).SdrTdo(0xA5, 0x5A); },
            {0x08, 0, 0, 0, 8, 0x09, 0xA5, 0x5A}},
    SLayout{"SetSdrMasks", [](CXsvfWriter& w) { w.SdrSize(8).SetSdrMasks({0x10}, {0x0F}); },
            {0x08, 0, 0, 0, 8, 0x0A, 0x10, 0x0F}},
    SLayout{"SdrInc",
            [](CXsvfWriter& w) { w.SdrSize(16).SetSdrMasks({0x01, 0x00}, {0x00, 0xFF}).SdrInc({0x00, 0x11}, {{0x22}, {0x33}}); },
            {0x08, 0, 0, 0, 16, 0x0A, 0x01, 0x00, 0x00, 0xFF, 0x0B, 0x00, 0x11, 2, 0x22, 0x33}},
    SLayout{"SdrBCE", [](CXsvfWriter& w) { w.SdrSize(8).SdrB({1}).SdrC({2}).SdrE({3}); },
            {0x08, 0, 0, 0, 8, 0x0C, 1, 0x0D, 2, 0x0E, 3}},
    SLayout{"SdrTdoBCE", [](CXsvfWriter& w) { w.SdrSize(8).SdrTdoB({1}, {4}).SdrTdoC({2}, {5}).SdrTdoE({3}, {6}); },
            {0x08, 0, 0, 0, 8, 0x0F, 1, 4, 0x10, 2, 5, 0x11, 3, 6}},
    SLayout{"State", [](CXsvfWriter& w) { w.State(1); }, {0x12, 1}},
    SLayout{"EndIrEndDr", [](CXsvfWriter& w) { w.EndIr(1).EndDr(0); }, {0x13, 1, 0x14, 0}},
    SLayout{"Sir2", [](CXsvfWriter& w) { w.Sir2(9, {0x01, 0x02}); }, {0x15, 0x00, 0x09, 0x01, 0x02}},
    SLayout{"Comment", [](CXsvfWriter& w) { w.Comment("hi"); }, {0x16, 'h', 'i', 0x00}},
    SLayout{"Wait", [](CXsvfWriter& w) { w.Wait(1, 6, 0x01020304); }, {0x17, 1, 6, 1, 2, 3, 4}},
    SLayout{"Raw", [](CXsvfWriter& w) { w.Raw({0x05, 0xC8}); }, {0x05, 0xC8}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(XsvfWriter, RefusesDataOfTheWrongLength)
{
    CXsvfWriter w;
    w.SdrSize(9);
    EXPECT_THROW(w.Sdr(Bytes{0x01}), std::invalid_argument);
    EXPECT_THROW(w.SdrTdo(Bytes{0x00, 0x01}, Bytes{0x01}), std::invalid_argument);
    EXPECT_THROW(w.Sir(9, {0x01}), std::invalid_argument);
    EXPECT_THROW(w.Comment(std::string("a\0b", 3)), std::invalid_argument);
    w.SetSdrMasks({0, 0}, {0x01, 0x03});  // K = 3: one byte per step
    EXPECT_THROW(w.SdrInc({0, 0}, {{1, 2}}), std::invalid_argument);
    EXPECT_EQ(w.Stream().size(), 5u + 5u) << "nothing written by a refused command";
}

// Plays the commands that MakeModelPartProgram uses into a JTAG engine,
// through Run-Test/Idle around every shift, as a player would.
class CMiniPlayer {
public:
    explicit CMiniPlayer(CJtagEngine& engine) : m_engine(engine)
    {
        for (int i = 0; i < 5; ++i)
            Tms(1);
        Tms(0);
    }

    // Number of failed TDO checks; -1 for a command this player lacks.
    int Play(const Bytes& s)
    {
        int failures = 0;
        size_t p = 0;
        auto take = [&](size_t n) {
            Bytes b(s.begin() + static_cast<long>(p), s.begin() + static_cast<long>(p + n));
            p += n;
            return b;
        };
        while (p < s.size()) {
            const uint8_t command = s[p++];
            switch (command) {
            case XCOMPLETE: return failures;
            case XTDOMASK: m_mask = take(m_bytes); break;
            case XSIR: {
                const int bits = s[p++];
                Shift(true, bits, take((bits + 7u) / 8), false);
                break;
            }
            case XSDR: failures += !Shift(false, m_bits, take(m_bytes), true); break;
            case XSDRTDO: {
                const Bytes tdi = take(m_bytes);
                m_expected = take(m_bytes);
                failures += !Shift(false, m_bits, tdi, true);
                break;
            }
            case XRUNTEST: take(4); break;
            case XREPEAT: take(1); break;
            case XENDIR:
            case XENDDR: take(1); break;
            case XSDRSIZE: {
                const Bytes v = take(4);
                m_bits = v[2] << 8 | v[3];
                m_bytes = (m_bits + 7u) / 8;
                break;
            }
            default: return -1;
            }
        }
        return -1;  // no XCOMPLETE
    }

private:
    void Tms(int level)
    {
        const uint8_t frame[] = {FRAME_PINS, static_cast<uint8_t>(level << 4), 0x01, 0x11};
        m_engine.Execute(frame, sizeof frame);
    }

    bool Shift(bool ir, int bits, const Bytes& tdi, bool check)
    {
        for (int level : ir ? std::vector<int>{1, 1, 0, 0} : std::vector<int>{1, 0, 0})
            Tms(level);
        Bytes p{FRAME_SHIFT, static_cast<uint8_t>(check ? 0x3F : 0x0C), 0, static_cast<uint8_t>(bits)};
        std::vector<const Bytes*> sections{&tdi};
        if (check) {
            sections.push_back(&m_expected);
            sections.push_back(&m_mask);
        }
        for (const Bytes* s : sections) {
            Bytes part(tdi.size(), 0);
            std::copy(s->begin(), s->begin() + static_cast<long>(std::min(s->size(), part.size())), part.begin());
            p.push_back(static_cast<uint8_t>(part.size()));
            p.insert(p.end(), part.begin(), part.end());
        }
        const SJtagResult r = m_engine.Execute(p.data(), p.size());
        Tms(1);
        Tms(0);
        return r.accepted && r.answer == Bytes{0x11};
    }

    CJtagEngine& m_engine;
    int m_bits = 0;
    size_t m_bytes = 0;
    Bytes m_mask, m_expected;
};

TEST(ModelPartProgram, ProgramsAndVerifiesOverOldContents)
{
    CJtagEngine engine;
    ModelFlash old;
    old.fill(0x1111);
    engine.Part().SetFlash(old);
    CMiniPlayer player(engine);
    EXPECT_EQ(player.Play(MakeModelPartProgram({0x01, 0x02, 0x03, 0x04, 0x05})), 0);
    const ModelFlash& flash = engine.Part().Flash();
    EXPECT_EQ(flash[0], 0x0102);
    EXPECT_EQ(flash[1], 0x0304);
    EXPECT_EQ(flash[2], 0x05FF);
    for (size_t i = 3; i < flash.size(); ++i)
        ASSERT_EQ(flash[i], MODEL_ERASED_WORD) << i;
}

TEST(ModelPartProgram, WrongStreamsFailTheirChecks)
{
    // Another IDCODE expected: one failed check.
    Bytes stream = MakeModelPartProgram({0xAA, 0xBB});
    const Bytes idcode = CXsvfWriter::Value(MODEL_IDCODE, 4);
    auto at = std::search(stream.begin(), stream.end(), idcode.begin(), idcode.end());
    ASSERT_NE(at, stream.end());
    at[3] ^= 0x02;
    CJtagEngine engine;
    EXPECT_EQ(CMiniPlayer(engine).Play(stream), 1);

    // Programming without an erase over old contents: the verify finds the words wrong.
    CJtagEngine dirty;
    ModelFlash old;
    old.fill(0x0F0F);
    dirty.Part().SetFlash(old);
    CXsvfWriter w;
    w.Sir(8, {INS_ADDRESS}).SdrSize(8).Sdr(0);
    w.Sir(8, {INS_PROGRAM}).SdrSize(16).TdoMask(0x0000).Sdr(0x1234).Sdr(0xABCD);
    w.Sir(8, {INS_ADDRESS}).SdrSize(8).TdoMask(0x00).Sdr(0);
    w.Sir(8, {INS_VERIFY}).SdrSize(16).TdoMask(0xFFFF).SdrTdo(0, 0x1234).SdrTdo(0, 0xABCD).Complete();
    EXPECT_EQ(CMiniPlayer(dirty).Play(w.Stream()), 2);
}

TEST(ModelPartProgram, RefusesAnImageLargerThanTheFlash)
{
    EXPECT_NO_THROW(MakeModelPartProgram(Bytes(512, 0)));
    EXPECT_THROW(MakeModelPartProgram(Bytes(513, 0)), std::invalid_argument);
}

}  // namespace
