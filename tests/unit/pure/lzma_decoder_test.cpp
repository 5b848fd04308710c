// The launcher's LZMA decoder and call transform on the packer's awkward inputs (support/packed_fixtures.py),
// whole and damaged. Every buffer is exactly its size, so that the sanitizers see any step outside it.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "packed_fixtures.h"
#include "../../../src/launcher/call_transform.h"
#include "../../../src/launcher/lzma_decoder.h"

// The unpacked bytes of an LZMA body, or false.
static bool Decode(unsigned properties, const std::string &body, unsigned capacity, std::string *unpacked)
{
    std::vector<unsigned char> packed(body.begin(), body.end()), work(LzmaWorkSize(properties)), out(capacity);
    unsigned written = 0;
    if (!LzmaDecode(properties, packed.data(), static_cast<unsigned>(packed.size()), work.data(), out.data(),
                    capacity, &written))
        return false;
    EXPECT_LE(written, capacity);
    RestoreCallOperands(out.data(), written);
    unpacked->assign(reinterpret_cast<const char *>(out.data()), written);
    return true;
}

static unsigned PropertiesOf(const PackedFixture &fixture)
{
    return static_cast<unsigned char>(fixture.packed[12]);
}

static std::string BodyOf(const PackedFixture &fixture)
{
    return std::string(fixture.packed + 13, fixture.packedSize - 13);
}

static const PackedFixture &FixtureNamed(const std::string &name)
{
    for (const PackedFixture &fixture : PACKED_FIXTURES)
        if (name == fixture.name)
            return fixture;
    ADD_FAILURE() << "no fixture " << name;
    return PACKED_FIXTURES[0];
}

TEST(LzmaDecode, EveryAwkwardInputExactlyAndOnlyWithRoomForIt)
{
    for (const PackedFixture &fixture : PACKED_FIXTURES) {
        std::string raw(fixture.raw, fixture.rawSize), unpacked;
        EXPECT_TRUE(Decode(PropertiesOf(fixture), BodyOf(fixture), fixture.rawSize, &unpacked)) << fixture.name;
        EXPECT_TRUE(raw == unpacked) << fixture.name;
        EXPECT_TRUE(Decode(PropertiesOf(fixture), BodyOf(fixture), fixture.rawSize + 100, &unpacked));
        EXPECT_TRUE(raw == unpacked) << fixture.name << ": more room, the same bytes";
        if (fixture.rawSize)
            EXPECT_FALSE(Decode(PropertiesOf(fixture), BodyOf(fixture), fixture.rawSize - 1, &unpacked))
                << fixture.name;
    }
}

TEST(LzmaDecode, CutStreamsFail)
{
    for (const PackedFixture &fixture : PACKED_FIXTURES) {
        std::string body = BodyOf(fixture), unpacked;
        // Every cut near either end, where the range coder starts and flushes, and many in between.
        for (size_t cut = 0; cut < body.size(); cut += cut < 64 || cut + 64 > body.size() ? 1 : 13)
            EXPECT_FALSE(Decode(PropertiesOf(fixture), body.substr(0, cut), fixture.rawSize, &unpacked))
                << fixture.name << " cut to " << cut;
    }
}

TEST(LzmaDecode, DamageFailsOrDecodesExactly)
{
    std::mt19937 random(20240611);
    std::string unpacked;
    for (const PackedFixture &fixture : PACKED_FIXTURES) {
        std::string raw(fixture.raw, fixture.rawSize);
        for (int i = 0; i < 300; i++) {
            std::string body = BodyOf(fixture);
            for (int flips = 1 + random() % 3; flips > 0; flips--)
                body[random() % body.size()] ^= static_cast<char>(1 + random() % 255);
            // A stream of one literal may end just as well with another literal: the header's hash refuses that.
            if (Decode(PropertiesOf(fixture), body, fixture.rawSize, &unpacked) && fixture.rawSize != 1)
                EXPECT_TRUE(raw == unpacked) << fixture.name << " damaged " << i;
        }
    }
    // Bodies that are no stream, or more than one, with far more room than they could fill.
    const PackedFixture &mixed = FixtureNamed("MIXED");
    struct Row {
        const char *label;
        std::string body;
    } rows[] = {
        {"zeros: literals until the room is full", std::string(2000, '\0')},
        {"ones after the first byte", '\0' + std::string(2000, '\xFF')},
        {"noise", '\0' + std::string(FixtureNamed("NOISE").raw, FixtureNamed("NOISE").rawSize)},
        {"a first byte other than 0", "\x01" + BodyOf(mixed).substr(1)},
        {"a byte after the end marker", BodyOf(mixed) + '\0'},
    };
    for (const Row &row : rows)
        EXPECT_FALSE(Decode(PropertiesOf(mixed), row.body, 1 << 20, &unpacked)) << row.label;
}

TEST(LzmaWorkSize, TakesLiteralAndPositionBitsUpToFour)
{
    struct Row {
        unsigned lc, lp, pb;
        bool taken;
    } rows[] = {{0, 0, 0, true}, {4, 0, 4, true}, {0, 4, 2, true}, {2, 2, 0, true},
                {5, 0, 0, false}, {3, 2, 0, false}, {8, 4, 4, false}, {0, 0, 5, false}};
    for (const Row &row : rows)
        EXPECT_EQ(LzmaWorkSize(row.lc + 9 * (row.lp + 5 * row.pb)) != 0, row.taken) << row.lc << row.lp << row.pb;
}
