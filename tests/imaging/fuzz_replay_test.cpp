// Every file that once broke a decoder, or that a fuzzer or an attacker
// made, replayed through the fuzz targets' own path: under the sanitizers
// in CI, an out-of-bounds read or a leak fails here. Each must fail cleanly.
#include <gtest/gtest.h>

#include <QDir>

#include "../../fuzz/fuzz_one.h"
#include "support/test_support.h"

using namespace Qt::StringLiterals;

namespace velda {
namespace {

struct Target {
    const char* folder;
    FormatId kind;
    const char* name;
};

TEST(FuzzReplayTest, EveryRegressionFileIsHandledCleanlyInItsOwnDecoder) {
    const Target targets[] = {
        {"jpeg", FormatId::Jpeg, "f.jpg"},  {"bmp", FormatId::Bmp, "f.bmp"},
        {"pcx", FormatId::Pcx, "f.pcx"},    {"png", FormatId::Png, "f.png"},
        {"tiff", FormatId::Tiff, "f.tif"},  {"targa", FormatId::Targa, "f.tga"},
        {"gif", FormatId::Gif, "f.gif"},    {"photocd", FormatId::PhotoCd, "f.pcd"},
        {"webp", FormatId::Webp, "f.webp"}, {"heic", FormatId::Heic, "f.heic"},
        {"avif", FormatId::Avif, "f.avif"}, {"jxl", FormatId::Jxl, "f.jxl"},
    };
    int replayed = 0;
    for (const Target& t : targets) {
        const QDir dir(QStringLiteral(VELDA_TEST_DATA "/fuzz/") + QLatin1String(t.folder));
        for (const QString& file : dir.entryList(QDir::Files, QDir::Name)) {
            SCOPED_TRACE(file.toStdString());
            const QByteArray bytes = test::ReadAll(dir.filePath(file));
            const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
            EXPECT_TRUE(fuzz::DecodeOneInput(t.kind, QLatin1String(t.name), data,
                                             static_cast<size_t>(bytes.size())))
                << "does not reach the " << t.folder << " decoder";
            // Files named valid-* are pictures a decoder may accept; the
            // others must be refused.
            Picture picture;
            const bool decoded = DecodePicture(bytes, QLatin1String(t.name), 3, &picture).ok();
            EXPECT_TRUE(!decoded || file.startsWith(u"valid-"_s));
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 4);
}

}  // namespace
}  // namespace velda
