// Writes the sample images that a new user can try Tarnis on: a small strip of a star field, with
// dropouts (samples stored as 0x8000) scattered below its first row. The first is 6080 samples wide
// like the frames of the camera this tool was made for; the second, of another camera, is 4144
// samples wide, and its capture program wrote a header longer than one record. The third, "rggb",
// is the raw frame of a one-shot-colour camera under an RGGB mosaic: a red nebula with stars of
// several colours and dropouts everywhere, in single samples, runs down a column and along a row,
// the first four rows and the last two. The same files come out on every run, so that the
// committed samples can be checked against them.
//
// Usage: tarnis_make_sample OUTPUT.fit [4144|rggb]

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kCameraWidth = 6080;
constexpr int kRows = 8;
constexpr int kColourWidth = 240;
constexpr int kColourRows = 120;
constexpr int kBlock = 2880;
constexpr std::int32_t kZero = 32768;

// A FITS header card: exactly 80 characters, a value right-aligned to column 30.
std::string card(const std::string& key, const std::string& value, const std::string& comment = {})
{
    std::string text = key;
    text.resize(8, ' ');
    if (!value.empty()) {
        text += "= ";
        text += std::string(20 > value.size() ? 20 - value.size() : 0, ' ') + value;
        if (!comment.empty())
            text += " / " + comment;
    } else if (!comment.empty()) {
        text += comment;
    }
    text.resize(80, ' ');
    return text;
}

// A string value, padded to the eight characters that readers expect at least.
std::string quoted(std::string text)
{
    if (text.size() < 8)
        text.resize(8, ' ');
    return "'" + text + "'";
}

// A string value starts in column 11 and is left-aligned, unlike numbers.
std::string stringCard(const std::string& key, const std::string& text, const std::string& comment)
{
    std::string line = key;
    line.resize(8, ' ');
    line += "= " + quoted(text);
    if (!comment.empty()) {
        if (line.size() < 30)
            line.resize(30, ' ');
        line += " / " + comment;
    }
    line.resize(80, ' ');
    return line;
}

// A fixed linear congruential generator: std::mt19937 would do, but the distributions are not
// specified to give the same numbers on every standard library.
class Noise {
public:
    std::uint32_t next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return state_ >> 8;
    }
    // Roughly normal, mean 0 and deviation 1, from twelve uniform numbers.
    double normal()
    {
        double sum = 0;
        for (int i = 0; i < 12; ++i)
            sum += static_cast<double>(next() & 0xFFFF) / 65536.0;
        return sum - 6.0;
    }

private:
    std::uint32_t state_ = 42;
};

struct Star {
    double x;
    double y;
    double peak;
    double width;
};

std::string endedHeader(std::string header)
{
    header += card("END", "");
    header.resize((header.size() + kBlock - 1) / kBlock * kBlock, ' ');
    return header;
}

// The samples' bytes as FITS stores them, padded to whole records.
std::string dataOf(const std::vector<std::uint16_t>& samples)
{
    std::string data;
    data.reserve(samples.size() * 2);
    for (const std::uint16_t sample : samples) {
        // Stored value = sample - BZERO, big-endian two's complement: the top bit flips.
        const auto stored = static_cast<std::uint16_t>(sample ^ 0x8000u);
        data += static_cast<char>(stored >> 8);
        data += static_cast<char>(stored & 0xFF);
    }
    data.resize((data.size() + kBlock - 1) / kBlock * kBlock, '\0');
    return data;
}

std::string monochromeSample(bool otherCamera)
{
    const int kWidth = otherCamera ? 4144 : kCameraWidth;
    const double scale = static_cast<double>(kWidth) / kCameraWidth;

    std::string header;
    header += card("SIMPLE", "T", "conforms to FITS standard");
    header += card("BITPIX", "16", "16-bit samples");
    header += card("NAXIS", "2", "an image");
    header += card("NAXIS1", std::to_string(kWidth), "samples a row");
    header += card("NAXIS2", std::to_string(kRows), "rows");
    header += card("BZERO", std::to_string(kZero), "unsigned samples stored signed");
    header += card("BSCALE", "1");
    header += otherCamera ? stringCard("OBJECT", "NGC7000",
                                       "a strip across the North America Nebula, made up")
                          : stringCard("OBJECT", "M42", "a strip across the Orion Nebula, made up");
    header += card("COMMENT", "",
                   "Sample for Tarnis: samples that read 0 (stored 0x8000) are dropouts.");
    if (otherCamera) {
        // What a capture program writes about an exposure: enough cards for a second record.
        header += stringCard("DATE-OBS", "2026-12-06T22:15:03", "start of the exposure, UTC");
        header += card("EXPTIME", "300.0", "seconds");
        header += card("CCD-TEMP", "-10.0", "degrees Celsius");
        header += card("GAIN", "100", "sensor gain");
        header += card("OFFSET", "50", "sensor offset");
        header += card("XBINNING", "1");
        header += card("YBINNING", "1");
        header += stringCard("FILTER", "Ha", "7 nm hydrogen-alpha");
        header += stringCard("IMAGETYP", "Light Frame", "");
        for (int i = 1; i <= 30; ++i)
            header += card("HISTORY", "",
                           "capture step " + std::to_string(i) + ": made up for the sample");
    }

    // Sky, a faint glow across the middle, a few stars; never 0, so that only the dropouts put in
    // below read as dropouts.
    Noise noise;
    const std::array<Star, 6> stars{{{512.5, 3.2, 30000, 1.6},
                                     {1800.0, 5.5, 12000, 1.3},
                                     {2950.3, 1.8, 45000, 2.0},
                                     {3100.7, 6.4, 8000, 1.1},
                                     {4420.2, 4.1, 20000, 1.5},
                                     {5705.9, 2.6, 15000, 1.4}}};
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(kWidth) * kRows);
    for (int y = 0; y < kRows; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double glow = 1800.0
                                * std::exp(-std::pow((x - 3000.0 * scale) / (900.0 * scale), 2));
            double value = 1000.0 + glow + 25.0 * noise.normal();
            for (const Star& star : stars) {
                const double dx = x - star.x * scale;
                const double dy = y - star.y;
                value += star.peak * std::exp(-(dx * dx + dy * dy) / (2 * star.width * star.width));
            }
            if (value < 1)
                value = 1;
            if (value > 65535)
                value = 65535;
            samples[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x)] =
                static_cast<std::uint16_t>(std::lround(value));
        }
    }

    // Dropouts: single samples and short runs, none in the first row (which is left as it is).
    for (int y = 1; y < kRows; ++y) {
        for (int i = 0; i < 12; ++i) {
            const int x = static_cast<int>(noise.next() % (kWidth - 4));
            const int run = 1 + static_cast<int>(noise.next() % 3);
            for (int k = 0; k < run; ++k)
                samples[static_cast<std::size_t>(y) * kWidth + static_cast<std::size_t>(x + k)] = 0;
        }
    }

    return endedHeader(header) + dataOf(samples);
}

// A star of some colour: its peak in each of red, green and blue.
struct ColouredStar {
    double x;
    double y;
    double width;
    std::array<double, 3> peak;
};

std::string colourSample()
{
    std::string header;
    header += card("SIMPLE", "T", "conforms to FITS standard");
    header += card("BITPIX", "16", "16-bit samples");
    header += card("NAXIS", "2", "an image");
    header += card("NAXIS1", std::to_string(kColourWidth), "samples a row");
    header += card("NAXIS2", std::to_string(kColourRows), "rows");
    header += card("BZERO", std::to_string(kZero), "unsigned samples stored signed");
    header += card("BSCALE", "1");
    header += stringCard("OBJECT", "NGC2244", "the Rosette Nebula and its cluster, made up");
    header += stringCard("BAYERPAT", "RGGB", "2x2 mosaic: R G in row 0, G B in row 1");
    header += card("XBAYROFF", "0", "mosaic offset in x");
    header += card("YBAYROFF", "0", "mosaic offset in y");
    header += card("COMMENT", "",
                   "Sample for Tarnis: a raw one-shot-colour frame; samples that read 0");
    header += card("COMMENT", "", "(stored 0x8000) are dropouts.");

    // Sky; a ring of red hydrogen-alpha light, brighter in a few clumps; hot blue stars in the ring's
    // middle, and stars of every colour around; noise that grows with the light. Never 0.
    Noise noise;
    std::vector<ColouredStar> stars{
        {118.3, 61.6, 1.5, {14000, 19000, 26000}}, {104.8, 52.2, 1.3, {9000, 13000, 18000}},
        {131.5, 70.4, 1.4, {11000, 15000, 21000}}, {112.2, 74.9, 1.2, {7000, 9500, 13000}},
        {60.4, 28.7, 1.6, {30000, 21000, 10000}},  {190.6, 95.3, 1.4, {26000, 15000, 6000}}};
    const std::array<std::array<double, 3>, 4> tints{
        {{0.55, 0.8, 1.0}, {0.95, 1.0, 0.95}, {1.0, 0.85, 0.55}, {1.0, 0.6, 0.3}}};
    for (int i = 0; i < 40; ++i) {
        const double x = static_cast<double>(noise.next() % (kColourWidth * 10)) / 10;
        const double y = static_cast<double>(noise.next() % (kColourRows * 10)) / 10;
        const double peak = 800.0
                            + static_cast<double>(noise.next() % 12000)
                                  * static_cast<double>(noise.next() % 100) / 100;
        const auto& tint = tints[noise.next() % tints.size()];
        stars.push_back({x,
                         y,
                         1.0 + static_cast<double>(noise.next() % 5) / 10,
                         {peak * tint[0], peak * tint[1], peak * tint[2]}});
    }
    const std::array<std::array<double, 4>, 5> clumps{{{70, 50, 14, 0.8},
                                                       {165, 40, 16, 0.6},
                                                       {150, 92, 12, 0.9},
                                                       {85, 95, 10, 0.5},
                                                       {120, 20, 9, 0.4}}};
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(kColourWidth) * kColourRows);
    for (int y = 0; y < kColourRows; ++y) {
        for (int x = 0; x < kColourWidth; ++x) {
            // Red, green and blue: samples (even, even), (odd, even) and (even, odd), (odd, odd).
            const int colour = (y % 2) + (x % 2);
            const double dx = x - 118.0;
            const double dy = y - 62.0;
            const double ring = std::exp(
                -std::pow((std::sqrt(dx * dx + dy * dy) - 42.0) / 16.0, 2));
            double nebula = 0.6 * ring;
            for (const auto& [cx, cy, width, strength] : clumps)
                nebula += strength
                          * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy))
                                     / (2 * width * width));
            double value = std::array<double, 3>{700, 900, 650}[colour]
                           + nebula * std::array<double, 3>{9000, 1100, 700}[colour];
            for (const ColouredStar& star : stars) {
                const double sx = x - star.x;
                const double sy = y - star.y;
                value += star.peak[colour]
                         * std::exp(-(sx * sx + sy * sy) / (2 * star.width * star.width));
            }
            value += std::sqrt(value) * noise.normal();
            samples[static_cast<std::size_t>(y) * kColourWidth + static_cast<std::size_t>(x)] =
                static_cast<std::uint16_t>(std::lround(std::min(std::max(value, 1.0), 65535.0)));
        }
    }

    // Dropouts: single samples everywhere, on the stars' cores too; runs down a column and along a
    // row; and a few in each of the first four rows and the last two. Fewer than 1 % of the
    // samples in all, so that tarnis-repair does not take the frame for one without an offset.
    const auto drop = [&](int x, int y) {
        samples[static_cast<std::size_t>(y) * kColourWidth + static_cast<std::size_t>(x)] = 0;
    };
    for (int i = 0; i < 170; ++i)
        drop(static_cast<int>(noise.next() % kColourWidth),
             static_cast<int>(noise.next() % kColourRows));
    for (std::size_t i = 0; i < 6; ++i)
        drop(static_cast<int>(std::lround(stars[i].x)) + static_cast<int>(i % 2),
             static_cast<int>(std::lround(stars[i].y)));
    for (int i = 0; i < 10; ++i) {
        const int x = static_cast<int>(noise.next() % kColourWidth);
        const int y = static_cast<int>(noise.next() % (kColourRows - 8));
        for (int k = 0, run = 2 + static_cast<int>(noise.next() % 5); k < run; ++k)
            drop(x, y + k);
    }
    for (int i = 0; i < 6; ++i) {
        const int x = static_cast<int>(noise.next() % (kColourWidth - 4));
        const int y = static_cast<int>(noise.next() % kColourRows);
        for (int k = 0, run = 2 + static_cast<int>(noise.next() % 3); k < run; ++k)
            drop(x + k, y);
    }
    for (const int y : {0, 1, 2, 3, kColourRows - 2, kColourRows - 1}) {
        for (int i = 0; i < 3; ++i)
            drop(static_cast<int>(noise.next() % kColourWidth), y);
    }
    return endedHeader(header) + dataOf(samples);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string kind = argc == 3 ? argv[2] : "";
    if (argc < 2 || argc > 3 || !(kind.empty() || kind == "4144" || kind == "rggb")) {
        std::fprintf(stderr, "usage: %s OUTPUT.fit [4144|rggb]\n", argv[0]);
        return 2;
    }
    const std::string file = kind == "rggb" ? colourSample() : monochromeSample(kind == "4144");

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << file;
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
