#include "cameras/pixel_conversion.h"

#include <QTest>

#include <turbojpeg.h>

#include <array>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<int, 3>;

Rgb pixelAt(const Frame &frame, int x, int y)
{
    const std::uint8_t *p = frame.row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

// A Bayer mosaic of a flat colour: every site holds its own channel of `colour`.
Bytes flatMosaic(int width, int height, int stride, BayerPattern pattern, Rgb colour)
{
    static const char *const layouts[] = {"RGGB", "GRBG", "GBRG", "BGGR"};
    const char *layout = layouts[int(pattern)];
    Bytes mosaic(std::size_t(stride) * height, 0xAA);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const char site = layout[2 * (y & 1) + (x & 1)];
            mosaic[std::size_t(y) * stride + x] = std::uint8_t(colour[site == 'R' ? 0 : site == 'G' ? 1 : 2]);
        }
    }
    return mosaic;
}

Bytes encodeJpeg(int width, int height, Rgb colour)
{
    Bytes rgb(std::size_t(width) * height * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = std::uint8_t(colour[i % 3]);
    tjhandle encoder = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size, TJSAMP_444, 100, 0);
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return out;
}

} // namespace

class TestPixelConversion : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void yuyvColours_data();
    void yuyvColours();
    void yuyvOddWidthAndStride();
    void monoAndRgbDropRowPadding();
    void mono16ClipsToSignificantBits_data();
    void mono16ClipsToSignificantBits();
    void bayerFlatFieldStaysFlat_data();
    void bayerFlatFieldStaysFlat();
    void bayerKeepsMeasuredSites();
    void mjpegDecodes();
    void mjpegRefusesDamagedFrames_data();
    void mjpegRefusesDamagedFrames();
};

void TestPixelConversion::yuyvColours_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("u");
    QTest::addColumn<int>("v");
    QTest::addColumn<int>("r");
    QTest::addColumn<int>("g");
    QTest::addColumn<int>("b");
    // Studio range: 16 is black, 235 white; values outside clip instead of wrapping.
    QTest::newRow("black") << 16 << 128 << 128 << 0 << 0 << 0;
    QTest::newRow("white") << 235 << 128 << 128 << 255 << 255 << 255;
    QTest::newRow("below black clips") << 0 << 128 << 128 << 0 << 0 << 0;
    QTest::newRow("above white clips") << 255 << 128 << 128 << 255 << 255 << 255;
    QTest::newRow("red") << 81 << 90 << 240 << 255 << 0 << 0;
    QTest::newRow("green") << 145 << 54 << 34 << 0 << 255 << 0;
    QTest::newRow("blue") << 41 << 240 << 110 << 0 << 0 << 255;
}

void TestPixelConversion::yuyvColours()
{
    QFETCH(int, y);
    QFETCH(int, u);
    QFETCH(int, v);
    QFETCH(int, r);
    QFETCH(int, g);
    QFETCH(int, b);
    const Bytes src = {std::uint8_t(y), std::uint8_t(u), std::uint8_t(y), std::uint8_t(v)};
    const Frame frame = convertYuyv(src.data(), 2, 1, 4);
    QCOMPARE(frame.format, PixelFormat::RGB8);
    for (int x = 0; x < 2; ++x) {
        const Rgb got = pixelAt(frame, x, 0);
        const Rgb want = {r, g, b};
        for (int c = 0; c < 3; ++c)
            QVERIFY2(qAbs(got[c] - want[c]) <= 2, qPrintable(QStringLiteral("channel %1: %2").arg(c).arg(got[c])));
    }
}

void TestPixelConversion::yuyvOddWidthAndStride()
{
    // Three pixels wide: two macropixels per row, and eight bytes of padding after them.
    const int stride = 16;
    Bytes src(std::size_t(stride) * 2, 0xEE);
    const std::uint8_t rows[2][8] = {{16, 128, 235, 128, 81, 90, 0, 240}, {235, 128, 16, 128, 235, 128, 0, 128}};
    for (int y = 0; y < 2; ++y)
        std::copy(rows[y], rows[y] + 8, src.begin() + y * stride);
    const Frame frame = convertYuyv(src.data(), 3, 2, stride);
    QCOMPARE(frame.width, 3);
    QCOMPARE(frame.stride, 9);
    QCOMPARE(pixelAt(frame, 0, 0), (Rgb{0, 0, 0}));
    QCOMPARE(pixelAt(frame, 1, 0), (Rgb{255, 255, 255}));
    QCOMPARE(pixelAt(frame, 2, 0)[0], 255); // red, its chroma from the last macropixel
    QCOMPARE(pixelAt(frame, 0, 1), (Rgb{255, 255, 255}));
    QCOMPARE(pixelAt(frame, 1, 1), (Rgb{0, 0, 0}));
}

void TestPixelConversion::monoAndRgbDropRowPadding()
{
    const Bytes grey = {1, 2, 3, 99, 4, 5, 6, 99};
    const Frame mono = convertMono8(grey.data(), 3, 2, 4);
    QCOMPARE(mono.format, PixelFormat::Mono8);
    QCOMPARE(mono.data, QByteArray("\x01\x02\x03\x04\x05\x06", 6));

    const Bytes rgb = {1, 2, 3, 4, 5, 6, 99, 99, 7, 8, 9, 10, 11, 12, 99, 99};
    const Frame colour = convertRgb24(rgb.data(), 2, 2, 8);
    QCOMPARE(colour.format, PixelFormat::RGB8);
    QCOMPARE(colour.data, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c", 12));
}

void TestPixelConversion::mono16ClipsToSignificantBits_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("expected");
    QTest::newRow("Mono10 in range") << 10 << 1023 << 1023;
    QTest::newRow("Mono10 above range") << 10 << 1024 << 1023;
    QTest::newRow("Mono12 in range") << 12 << 4000 << 4000;
    QTest::newRow("Mono12 high byte garbage") << 12 << 0xF001 << 4095;
    QTest::newRow("Mono16 full range") << 16 << 0xFFFF << 0xFFFF;
    QTest::newRow("Mono16 little endian") << 16 << 0x1234 << 0x1234;
}

void TestPixelConversion::mono16ClipsToSignificantBits()
{
    QFETCH(int, bits);
    QFETCH(int, sample);
    QFETCH(int, expected);
    // One pixel per row, two rows, two bytes of padding per row.
    const Bytes src = {std::uint8_t(sample & 0xff), std::uint8_t(sample >> 8), 0xEE, 0xEE, 7, 0, 0xEE, 0xEE};
    const Frame frame = convertMono16(src.data(), 1, 2, 4, bits);
    QCOMPARE(frame.format, PixelFormat::Mono16);
    QCOMPARE(frame.significantBits, bits);
    QCOMPARE(frame.stride, 2);
    QCOMPARE(frame.row(0)[0] | (frame.row(0)[1] << 8), expected);
    QCOMPARE(frame.row(1)[0] | (frame.row(1)[1] << 8), 7);
}

void TestPixelConversion::bayerFlatFieldStaysFlat_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    for (int p = 0; p < 4; ++p) {
        static const char *const names[] = {"RGGB", "GRBG", "GBRG", "BGGR"};
        QTest::addRow("%s 6x4", names[p]) << p << 6 << 4;
        QTest::addRow("%s odd 5x3", names[p]) << p << 5 << 3;
    }
}

void TestPixelConversion::bayerFlatFieldStaysFlat()
{
    QFETCH(int, pattern);
    QFETCH(int, width);
    QFETCH(int, height);
    const Rgb colour = {200, 100, 50};
    const int stride = width + 3;
    const Bytes mosaic = flatMosaic(width, height, stride, BayerPattern(pattern), colour);
    const Frame frame = convertBayer8(mosaic.data(), width, height, stride, BayerPattern(pattern));
    QCOMPARE(frame.format, PixelFormat::RGB8);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            QVERIFY2(pixelAt(frame, x, y) == colour, qPrintable(QStringLiteral("pixel %1,%2").arg(x).arg(y)));
}

void TestPixelConversion::bayerKeepsMeasuredSites()
{
    // A gradient: each site's measured channel must come through unchanged.
    const int width = 8, height = 6;
    Bytes mosaic(width * height);
    for (int i = 0; i < width * height; ++i)
        mosaic[i] = std::uint8_t(i * 5);
    const Frame frame = convertBayer8(mosaic.data(), width, height, width, BayerPattern::GRBG);
    QCOMPARE(pixelAt(frame, 1, 0)[0], int(mosaic[1]));             // red site
    QCOMPARE(pixelAt(frame, 0, 0)[1], int(mosaic[0]));             // green site, red row
    QCOMPARE(pixelAt(frame, 0, 1)[2], int(mosaic[width]));         // blue site
    QCOMPARE(pixelAt(frame, 1, 1)[1], int(mosaic[width + 1]));     // green site, blue row
    QCOMPARE(pixelAt(frame, 3, 2)[0], int(mosaic[2 * width + 3])); // red site inside
}

void TestPixelConversion::mjpegDecodes()
{
    const Bytes jpeg = encodeJpeg(32, 16, {30, 160, 220});
    Frame frame;
    const Status decoded = decodeMjpeg(jpeg.data(), jpeg.size(), 32, 16, frame);
    QVERIFY2(decoded.ok(), qPrintable(decoded.reason()));
    QCOMPARE(frame.format, PixelFormat::RGB8);
    QCOMPARE(frame.width, 32);
    QCOMPARE(frame.height, 16);
    const Rgb got = pixelAt(frame, 31, 15);
    QVERIFY(qAbs(got[0] - 30) <= 2 && qAbs(got[1] - 160) <= 2 && qAbs(got[2] - 220) <= 2);
}

void TestPixelConversion::mjpegRefusesDamagedFrames_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("garble");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("header only") << 200 << false;
    QTest::newRow("cut short") << -40 << false;
    QTest::newRow("not a JPEG") << -1 << true;
}

void TestPixelConversion::mjpegRefusesDamagedFrames()
{
    QFETCH(int, keep);
    QFETCH(bool, garble);
    Bytes jpeg = encodeJpeg(64, 64, {10, 20, 30});
    if (garble)
        std::fill(jpeg.begin(), jpeg.end(), 0x5A);
    else
        jpeg.resize(keep >= 0 ? std::size_t(keep) : jpeg.size() - std::size_t(-keep));
    Frame frame;
    frame.width = 7; // must stay untouched on failure
    const Status decoded = decodeMjpeg(jpeg.data(), jpeg.size(), 64, 64, frame);
    QVERIFY(!decoded.ok());
    QVERIFY(decoded.reason().startsWith(QLatin1String("bad JPEG frame")));
    QCOMPARE(frame.width, 7);
}

QTEST_GUILESS_MAIN(TestPixelConversion)
#include "test_pixel_conversion.moc"
