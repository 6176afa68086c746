#include "collision/compression.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

using collision::accumulateCrush;
using collision::CompressionContact;
using collision::EpisodeMark;
using dent::Crush;

constexpr float kMinY = -2.0f;
constexpr float kMaxY = 2.0f;

CompressionContact frontContact(std::uint32_t episode, float depth, float directionY = -1.0f) {
    return {episode, depth, {0.0f, 1.9f, 0.0f}, {0.0f, directionY, 0.0f}, 0.65f, 0.65f};
}

CompressionContact rearContact(std::uint32_t episode, float depth) {
    return {episode, depth, {0.0f, -1.9f, 0.0f}, {0.0f, 1.0f, 0.0f}, 0.65f, 0.65f};
}

TEST(Compression, FrontContactAddsDirectionTimesDepthTimesStrength) {
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    CompressionContact contact = frontContact(1, 0.4f, -0.8f);
    contact.direction.x = 0.6f;
    EXPECT_TRUE(accumulateCrush(crush, mark, contact, kMinY, kMaxY));
    EXPECT_FLOAT_EQ(crush.front, 0.8f * 0.4f * 0.65f);
    EXPECT_EQ(crush.rear, 0.0f);
    EXPECT_EQ(mark.episode, 1u);
    EXPECT_EQ(mark.depth, 0.4f);

    EXPECT_TRUE(accumulateCrush(crush, mark, rearContact(2, 0.2f), kMinY, kMaxY));
    EXPECT_FLOAT_EQ(crush.rear, 0.2f * 0.65f);
    EXPECT_FLOAT_EQ(crush.front, 0.8f * 0.4f * 0.65f);
}

TEST(Compression, SideTestsAreStrict) {
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(1, 0.5f, -0.65f), kMinY, kMaxY));
    EXPECT_TRUE(accumulateCrush(crush, mark, frontContact(2, 0.5f, -0.66f), kMinY, kMaxY));

    CompressionContact atShare = frontContact(3, 0.5f);
    atShare.point.y = 0.35f * kMaxY;
    EXPECT_FALSE(accumulateCrush(crush, mark, atShare, kMinY, kMaxY));
    // Pushing outwards at the front is no front hit, and no rear hit either.
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(4, 0.5f, 1.0f), kMinY, kMaxY));
    CompressionContact rearAtShare = rearContact(5, 0.5f);
    rearAtShare.point.y = 0.35f * kMinY;
    EXPECT_FALSE(accumulateCrush(crush, mark, rearAtShare, kMinY, kMaxY));
    EXPECT_EQ(crush.rear, 0.0f);
}

TEST(Compression, SameEpisodeAddsOnlyWhatItGrew) {
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    ASSERT_TRUE(accumulateCrush(crush, mark, frontContact(1, 0.2f), kMinY, kMaxY));
    const float once = crush.front;
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(1, 0.2f), kMinY, kMaxY));
    EXPECT_EQ(crush.front, once);
    EXPECT_TRUE(accumulateCrush(crush, mark, frontContact(1, 0.3f), kMinY, kMaxY));
    EXPECT_FLOAT_EQ(crush.front, once + 0.1f * 0.65f);
    // A shallower contact keeps the episode's largest depth.
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(1, 0.1f), kMinY, kMaxY));
    EXPECT_EQ(mark.depth, 0.3f);
    // A new episode with the same depth adds again.
    const float before = crush.front;
    EXPECT_TRUE(accumulateCrush(crush, mark, frontContact(2, 0.3f), kMinY, kMaxY));
    EXPECT_FLOAT_EQ(crush.front, before + 0.3f * 0.65f);
}

TEST(Compression, RejectedContactStillCountsForItsEpisode) {
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(7, 0.4f, 0.2f), kMinY, kMaxY));
    EXPECT_EQ(mark.episode, 7u);
    EXPECT_EQ(mark.depth, 0.4f);
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(7, 0.4f), kMinY, kMaxY));
    EXPECT_EQ(crush.front, 0.0f);
}

TEST(Compression, StopsAtTheSmallerLimitAndNeverShrinks) {
    // maxY 2.0: 0.3 * maxY = 0.6 is below MaxCompression 0.65.
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    for (std::uint32_t episode = 1; episode <= 10; ++episode)
        accumulateCrush(crush, mark, frontContact(episode, 0.65f), kMinY, kMaxY);
    EXPECT_FLOAT_EQ(crush.front, 0.6f);
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(11, 0.65f), kMinY, kMaxY));

    // maxY 2.5: MaxCompression 0.65 is the limit.
    Crush longer{0.0f, 0.0f};
    EpisodeMark longerMark{0, 0.0f};
    for (std::uint32_t episode = 1; episode <= 10; ++episode) {
        CompressionContact contact = frontContact(episode, 0.65f);
        contact.point.y = 2.4f;
        accumulateCrush(longer, longerMark, contact, kMinY, 2.5f);
    }
    EXPECT_EQ(longer.front, 0.65f);

    // A lower cap later on keeps what was reached.
    CompressionContact capped = frontContact(12, 0.65f);
    capped.maxCompression = 0.1f;
    EXPECT_FALSE(accumulateCrush(crush, mark, capped, kMinY, kMaxY));
    EXPECT_FLOAT_EQ(crush.front, 0.6f);
}

TEST(Compression, TinyGrowthIsKeptButReportsNoChange) {
    Crush crush{0.0f, 0.0f};
    EpisodeMark mark{0, 0.0f};
    CompressionContact tiny = frontContact(1, 0.000005f);
    tiny.strength = 1.0f;
    EXPECT_FALSE(accumulateCrush(crush, mark, tiny, kMinY, kMaxY));
    EXPECT_GT(crush.front, 0.0f);
}

TEST(Compression, NonFiniteInputChangesNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Crush crush{0.1f, 0.1f};
    EpisodeMark mark{3, 0.2f};
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(3, nan), kMinY, kMaxY));
    EXPECT_EQ(mark.depth, 0.2f) << "a NaN depth never becomes the episode's depth";
    EXPECT_FALSE(accumulateCrush(crush, mark, frontContact(4, inf), kMinY, kMaxY));
    CompressionContact badStrength = frontContact(5, 0.3f);
    badStrength.strength = nan;
    EXPECT_FALSE(accumulateCrush(crush, mark, badStrength, kMinY, kMaxY));
    CompressionContact badCap = frontContact(6, 0.3f);
    badCap.maxCompression = nan;
    EXPECT_FALSE(accumulateCrush(crush, mark, badCap, kMinY, kMaxY));
    CompressionContact badPoint = frontContact(7, 0.3f);
    badPoint.point.y = nan;
    EXPECT_FALSE(accumulateCrush(crush, mark, badPoint, kMinY, kMaxY));
    EXPECT_EQ(crush.front, 0.1f);
    EXPECT_EQ(crush.rear, 0.1f);
}

TEST(Compression, BoxesMoveOnlyTheirYFaces) {
    const collision::Box rest{{-0.9f, -1.9f, -0.5f}, {0.9f, 2.0f, 0.8f}, {1, 2, 3, 4}};
    const collision::Box box = collision::crushedBox(rest, Crush{0.3f, 0.2f}, kMinY, kMaxY);
    EXPECT_EQ(box.min.x, rest.min.x);
    EXPECT_EQ(box.min.z, rest.min.z);
    EXPECT_EQ(box.max.x, rest.max.x);
    EXPECT_EQ(box.max.z, rest.max.z);
    EXPECT_FLOAT_EQ(box.max.y, 1.7f);
    EXPECT_EQ(box.min.y, dent::crushY(-1.9f, Crush{0.3f, 0.2f}, kMinY, kMaxY));
    EXPECT_GT(box.min.y, rest.min.y);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(box.surface[i], rest.surface[i]);
}

TEST(Compression, VerticesRoundTo128thsAndStayInRange) {
    const Crush frontOnly{0.25f, 0.0f};
    // The front end moves in by exactly the compression.
    const collision::Vertex nose{5, 256, -7};
    const collision::Vertex moved = collision::crushedVertex(nose, frontOnly, kMinY, kMaxY);
    EXPECT_EQ(moved.x, 5);
    EXPECT_EQ(moved.z, -7);
    EXPECT_EQ(moved.y, 224);
    // Behind 0.35 * maxY (and behind the origin) nothing moves.
    for (std::int16_t y : {89, 0, -1, -256, -32768}) {
        EXPECT_EQ(collision::crushedVertex({0, y, 0}, frontOnly, kMinY, kMaxY).y, y) << y;
    }
    // Far past the end: clamped to the int16 range, never wrapped.
    EXPECT_EQ(collision::crushedVertex({0, -32768, 0}, Crush{0.0f, -300.0f}, kMinY, kMaxY).y, -32768);
    EXPECT_EQ(collision::crushedVertex({0, 32767, 0}, Crush{-300.0f, 0.0f}, kMinY, kMaxY).y, 32767);
    const std::int16_t top = collision::crushedVertex({0, 32767, 0}, Crush{0.6f, 0.0f}, kMinY, kMaxY).y;
    EXPECT_EQ(top, static_cast<std::int16_t>(std::round((32767.0f / 128.0f - 0.6f) * 128.0f)));
}

TEST(Compression, VertexHalvesRoundAwayFromZero) {
    // maxY 2.0: a vertex at the end moves by exactly the front compression.
    // 1/256 of compression leaves y at k + 0.5 in 1/128 units.
    const Crush half{1.0f / 256.0f, 1.0f / 256.0f};
    EXPECT_EQ(collision::crushedVertex({0, 256, 0}, half, kMinY, kMaxY).y, 256) << "255.5 rounds up to 256";
    EXPECT_EQ(collision::crushedVertex({0, -256, 0}, half, kMinY, kMaxY).y, -256) << "-255.5 rounds to -256";
}

}  // namespace
