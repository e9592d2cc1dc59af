// The tool's PNG is written through libpng, the window's graph through
// QImage. Both must show exactly the pixels the raster holds, and the same
// pixels Qt's own PNG writer gave the tool before.
#include "cli/CurveExport.h"
#include "cli/PngEncoder.h"
#include "cli/ctl_runner.h"

#include "core/parameter_image.h"
#include "core/response_raster.h"
#include "support/case_name.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace tk770;
using tk770::ChannelCurve;

namespace {

QImage decodePng(const std::vector<std::uint8_t>& bytes)
{
    return QImage::fromData(bytes.data(), static_cast<int>(bytes.size()), "PNG");
}

// The picture the window shows for a raster (MainResponse's conversion).
QImage windowImage(const GraphRaster& raster)
{
    QImage img(graph_width, graph_height, QImage::Format_RGB32);
    for (int y = 0; y < graph_height; ++y)
        for (int x = 0; x < graph_width; ++x) img.setPixel(x, y, 0xFF000000u | raster.at(x, y));
    return img;
}

// What the tool wrote before: the window's image through Qt's PNG writer.
QImage throughQtPng(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "PNG"));
    return QImage::fromData(bytes, "PNG");
}

// First differing pixel as text, or empty when the images are equal.
std::string firstDifference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size()) return "sizes differ";
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF))
                return QStringLiteral("(%1,%2): %3 vs %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                    .arg(b.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                    .toStdString();
    return {};
}

struct GraphCase {
    const char* what;
    int channel;
    std::function<void(ParameterImage&)> change;
};

void PrintTo(const GraphCase& c, std::ostream* os) { *os << c.what; }

class PngGraph : public testing::TestWithParam<GraphCase> {};

TEST_P(PngGraph, ShowsTheRasterAndWhatQtWrote)
{
    ParameterImage image{};
    image.reset_to_defaults();
    GetParam().change(image);
    ChannelCurve curve(image, GetParam().channel);
    const GraphRaster raster = curve.graph();

    const QImage ours = decodePng(curve.graphPng());
    ASSERT_FALSE(ours.isNull());
    EXPECT_EQ(ours.size(), QSize(graph_width, graph_height));
    EXPECT_FALSE(ours.hasAlphaChannel());

    const QImage window = windowImage(raster);
    EXPECT_EQ(firstDifference(ours, window), "");
    EXPECT_EQ(firstDifference(ours, throughQtPng(window)), "");

    // The curve is there: the comparison is not between two empty grids.
    int green = 0;
    for (int y = 0; y < graph_height; ++y)
        for (int x = 0; x < graph_width; ++x) green += (ours.pixel(x, y) & 0xFFFFFF) == curve_green;
    EXPECT_GT(green, 600);
}

INSTANTIATE_TEST_SUITE_P(
    Channels, PngGraph,
    testing::Values(GraphCase{"flat left", 0, [](ParameterImage&) {}},
                    GraphCase{"flat subwoofer", 7, [](ParameterImage&) {}},
                    GraphCase{"centre with bands up and down", 1,
                              [](ParameterImage& p) {
                                  p.eq[1][3] = 120;
                                  p.eq[1][14] = -120;
                                  p.eq[1][20] = 60;
                              }},
                    GraphCase{"right with shelves", 2,
                              [](ParameterImage& p) {
                                  p.tone[2].bass_gain = 120;
                                  p.tone[2].treble_gain = -120;
                              }},
                    GraphCase{"subwoofer with a cut", 7, [](ParameterImage& p) { p.sw_filter[0].cut = -120; }}),
    [](const testing::TestParamInfo<GraphCase>& info) { return tk770::case_name(info.param.what); });

TEST(PngEncoder, KeepsEveryColourChannelInPlace)
{
    // Distinct red, green and blue in every pixel, so a swapped or shifted
    // channel shows; the graph's own colours would hide a red/blue swap.
    constexpr int w = 256, h = 3;
    std::vector<std::uint32_t> pixels(w * h);
    for (int x = 0; x < w; ++x) {
        const auto v = static_cast<std::uint32_t>(x);
        pixels[x] = v << 16 | (255 - v) << 8 | (v * 7 & 0xFF);
        pixels[w + x] = (v * 3 & 0xFF) << 16 | v << 8 | (255 - v);
        pixels[2 * w + x] = 0xFFFFFFu - pixels[x];
    }
    const QImage image = decodePng(encodePngRgb(pixels, w, h));
    ASSERT_EQ(image.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, pixels[y * w + x]) << "pixel " << x << "," << y;
}

TEST(PngEncoder, RefusesSizesThatDoNotMatchThePixels)
{
    const std::vector<std::uint32_t> pixels(12);
    EXPECT_TRUE(encodePngRgb(pixels, 4, 4).empty());
    EXPECT_TRUE(encodePngRgb(pixels, 0, 12).empty());
    EXPECT_TRUE(encodePngRgb(pixels, -3, -4).empty());
    EXPECT_FALSE(encodePngRgb(pixels, 3, 4).empty());
}

// The tool writes the PNG all or nothing, and a target it cannot write is
// the same file error as before: exit 3 and the path named.
class CurvePngFile : public testing::Test {
protected:
    void SetUp() override
    {
        m_project = m_dir.filePath("p.qsdat");
        ASSERT_EQ(runTool({"new", "-o", m_project}).status, 0);
    }
    QTemporaryDir m_dir;
    QString m_project;
};

TEST_F(CurvePngFile, ReplacesAnOlderFileWhole)
{
    const QString png = m_dir.filePath("g.png");
    ASSERT_TRUE(writeAll(png, QByteArray(100000, 'x')));
    const CtlRun r = runTool({"curve", m_project, "--channel", "3", "--png", png});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    ParameterImage image{};
    image.reset_to_defaults();
    const std::vector<std::uint8_t> expected = ChannelCurve(image, 3).graphPng();
    EXPECT_EQ(readAll(png), QByteArray(reinterpret_cast<const char*>(expected.data()),
                                       static_cast<qsizetype>(expected.size())));
}

TEST_F(CurvePngFile, UnwritableTargetsAreFileErrors)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder"));
    for (const QString& target : {m_dir.filePath("folder"), m_dir.filePath("no/dir/g.png")}) {
        const CtlRun r = runTool({"curve", m_project, "--channel", "0", "--png", target});
        EXPECT_EQ(r.status, 3) << target.toStdString();
        // The message names the file and gives the system's reason.
        EXPECT_TRUE(r.err.startsWith(QStringLiteral("Can't write this file! (%1: ").arg(target))) << r.err.toStdString();
        EXPECT_EQ(r.out.count('\n'), 315) << "the CSV comes before the PNG";
    }
    EXPECT_TRUE(QDir(m_dir.filePath("folder")).isEmpty());
}

}  // namespace
