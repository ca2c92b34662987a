// SvfBits against a plain bit-by-bit model: joining strings at every bit
// offset and cutting player buffers from every bit offset must give what
// shifting one bit at a time gives.

#include "SvfBits.h"

#include <gtest/gtest.h>

#include <vector>

using namespace devupdate::svf;

namespace {

using Model = std::vector<bool>;

Model Pattern(size_t count, unsigned seed)
{
    Model bits(count);
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        bits[i] = (seed >> 16 & 1) != 0;
    }
    return bits;
}

SvfBits FromModel(const Model& model)
{
    SvfBits bits;
    for (const bool b : model)
        bits.push_back(b);
    return bits;
}

// The player's buffer of bits [from, from + count) one bit at a time.
std::vector<uint8_t> ModelBuffer(const Model& model, size_t from, size_t count)
{
    std::vector<uint8_t> out((count + 7) / 8, 0);
    for (size_t i = 0; i < count; ++i) {
        if (model[from + i])
            out[out.size() - 1 - i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
    return out;
}

const size_t SIZES[] = {0, 1, 3, 7, 8, 9, 15, 16, 17, 63, 64, 65, 200};

TEST(SvfBits, AppendAtEveryOffsetKeepsEveryBit)
{
    for (const size_t first : SIZES) {
        for (const size_t second : SIZES) {
            const Model a = Pattern(first, 1), b = Pattern(second, 2);
            SvfBits joined = FromModel(a);
            joined.Append(FromModel(b));
            Model expected = a;
            expected.insert(expected.end(), b.begin(), b.end());
            ASSERT_EQ(joined.size(), expected.size());
            EXPECT_EQ(joined, FromModel(expected)) << first << " + " << second;
        }
    }
}

TEST(SvfBits, BuffersAndRunsFromEveryOffset)
{
    const Model model = Pattern(200, 3);
    const SvfBits bits = FromModel(model);
    Model ones(200, true);
    const SvfBits allOnes = FromModel(ones);
    for (size_t from = 0; from < 20; ++from) {
        for (const size_t count : {size_t{1}, size_t{7}, size_t{8}, size_t{9}, size_t{64}, size_t{150}}) {
            EXPECT_EQ(bits.ToBuffer(from, count), ModelBuffer(model, from, count)) << from << "+" << count;
            EXPECT_TRUE(allOnes.All(from, count, true));
            EXPECT_FALSE(allOnes.All(from, count, false));
        }
    }
    const Model other = Pattern(200, 4);
    Model both(200);
    for (size_t i = 0; i < both.size(); ++i)
        both[i] = model[i] && other[i];
    EXPECT_EQ(bits.And(FromModel(other)), FromModel(both));
    EXPECT_FALSE(SvfBits(70, false).Any());
    SvfBits one(70, false);
    one.Set(69, true);
    EXPECT_TRUE(one.Any());
    EXPECT_FALSE(one.All(0, 70, false));
}

}  // namespace
