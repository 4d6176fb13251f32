// The invisible mark's parts one by one: the payload as written, the code
// that carries it through noise, and the lattice of tiles found again in a
// picture that was scaled and turned.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "imaging/invisible_code.h"
#include "imaging/invisible_mark.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

using namespace invisible;

TEST(InvisiblePayloadTest, ReadsBackAsItWasGivenAndRefusesWhatItCannotHold) {
    for (const QString& given :
         {u"0"_s, u"1234"_s, u"18446744073709551615"_s, u"0x1f2e"_s, u"0X00C0FFEE"_s,
          u"0xFFFFFFFFFFFFFFFF"_s, u"007"_s, u"Ann Lee!"_s, u"A"_s, u"0x"_s}) {
        const auto p = InvisiblePayload::Parse(given);
        ASSERT_TRUE(p) << given.toStdString();
        EXPECT_EQ(p->ToString(), given);
        // And through the code, form and all.
        std::vector<float> soft;
        for (uint8_t bit : EncodePayload(*p))
            soft.push_back(bit ? -1.0f : 1.0f);
        const auto decoded = DecodePayload(soft);
        ASSERT_TRUE(decoded) << given.toStdString();
        EXPECT_EQ(decoded->ToString(), given);
    }
    EXPECT_EQ(InvisiblePayload::Parse(u"1234"_s)->value, 1234u);
    EXPECT_EQ(InvisiblePayload::Parse(u" 0x1F2E "_s)->value, 0x1f2eu);
    EXPECT_EQ(InvisiblePayload::Parse(u"007"_s)->form, InvisiblePayload::Form::Text);
    for (const QString& refused : {u""_s, u"18446744073709551616"_s, u"0x10000000000000000"_s,
                                   u"nine char"_s, u"caf\u00e9"_s, u"tab\there"_s})
        EXPECT_FALSE(InvisiblePayload::Parse(refused)) << refused.toStdString();
}

TEST(InvisibleCodeTest, CorrectsErrorsAndItsCheckRefusesNoise) {
    const InvisiblePayload p = *InvisiblePayload::Parse(u"0xC0FFEE42"_s);
    const std::vector<uint8_t> coded = EncodePayload(p);
    ASSERT_EQ(coded.size(), static_cast<size_t>(kCodedBits));
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    int recovered = 0;
    for (int trial = 0; trial < 200; ++trial) {
        // Each coded bit as a soft value in noise (about 11 % of them with
        // the wrong sign).
        std::vector<float> soft;
        for (uint8_t bit : coded)
            soft.push_back((bit ? -1.0f : 1.0f) + 0.8f * noise(random));
        if (const auto d = DecodePayload(soft)) {
            EXPECT_EQ(*d, p);
            ++recovered;
        }
    }
    EXPECT_GE(recovered, 190);
    // Several wrong bits in a row are corrected too.
    std::vector<float> soft;
    for (uint8_t bit : coded)
        soft.push_back(bit ? -1.0f : 1.0f);
    for (int i = 100; i < 106; ++i)
        soft[i] = -soft[i];
    EXPECT_EQ(DecodePayload(soft), p);
    // Noise alone never passes the check.
    for (int trial = 0; trial < 5000; ++trial) {
        for (float& v : soft)
            v = noise(random);
        ASSERT_FALSE(DecodePayload(soft));
    }
}

// A field as the detector sees it: the tiles' cells, scaled by `scale` and
// turned by `degrees`, in noise twice as strong.
std::vector<float> TiledField(int w, int h, double cell, double degrees, uint32_t seed) {
    const std::vector<float> tile = TileValues(*InvisiblePayload::Parse(u"42"_s));
    std::mt19937 random(seed);
    std::normal_distribution<float> noise(0.0f, 2.0f);
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    std::vector<float> field(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Back into the unturned picture, where the cells are squares.
            const double u = (c * x + s * y) / cell + 1000, v = (-s * x + c * y) / cell + 1000;
            const int cu = static_cast<int>(std::floor(u)) % kTile;
            const int cv = static_cast<int>(std::floor(v)) % kTile;
            field[static_cast<size_t>(y) * w + x] = tile[cv * kTile + cu] + noise(random);
        }
    }
    return field;
}

TEST(InvisibleSyncTest, FindsTheTilesAtEachScaleAndTurn) {
    for (double cell : {1.5, 2.0, 3.3}) {
        for (double degrees : {0.0, 3.0, -3.0}) {
            const int w = 512, h = 384;
            const std::vector<float> field = TiledField(w, h, cell, degrees, 1);
            const std::vector<Lattice> found = FindLattices(Whiten(field, w, h), w, h, 3);
            ASSERT_FALSE(found.empty());
            const double period = cell * kTile, a = degrees * M_PI / 180;
            const Lattice& l = found.front();
            SCOPED_TRACE(testing::Message() << "cell " << cell << ", " << degrees << " degrees");
            EXPECT_NEAR(l.x1, period * std::cos(a), 0.01 * period);
            EXPECT_NEAR(l.y1, period * std::sin(a), 0.01 * period);
            EXPECT_NEAR(l.x2, -period * std::sin(a), 0.01 * period);
            EXPECT_NEAR(l.y2, period * std::cos(a), 0.01 * period);
        }
    }
}

TEST(InvisibleMarkTest, SurvivesItsOwnRoundTripAndIsNotFoundWhereNoneWas) {
    Picture photo;
    ASSERT_TRUE(LoadPicture(u"/usr/share/backgrounds/Wine_by_Jakkub_Mede.jpg"_s, 3, &photo).ok());
    photo.image = photo.image.scaled(800, 1200, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_FALSE(DetectInvisible(photo));
    Picture marked = photo;
    const InvisiblePayload p = *InvisiblePayload::Parse(u"Velda"_s);
    ASSERT_TRUE(EmbedInvisible(&marked, p, kDefaultInvisibleStrength).ok());
    EXPECT_GE(test::Psnr(photo.image, marked.image), 42.0);
    EXPECT_EQ(DetectInvisible(marked), p);
    // A part of it, at another offset than the tiles'.
    Picture part = marked;
    part.image = marked.image.copy(137, 291, 520, 700);
    EXPECT_EQ(DetectInvisible(part), p);
    // A grey picture stays grey; a strength out of range is refused.
    Picture grey = photo;
    grey.image = photo.image.convertToFormat(QImage::Format_Grayscale8)
                     .convertToFormat(QImage::Format_Indexed8, GreyPalette());
    ASSERT_TRUE(EmbedInvisible(&grey, p, 8).ok());
    EXPECT_EQ(grey.image.format(), QImage::Format_Indexed8);
    EXPECT_EQ(DetectInvisible(grey), p);
    EXPECT_FALSE(EmbedInvisible(&marked, p, 11).ok());
}

}  // namespace
}  // namespace velda
