// Draws the README's pictures of a repair, each pixel a square of SCALE pixels. For a colour frame:
// a crop of a raw RGGB frame, debayered, as it was captured, after the repair from the rows
// directly above and below (the repair of files without a colour mosaic), and after the repair from
// samples of its own colour, side by side. For a monochrome frame: a crop, stretched, as captured,
// after the byte rule of earlier versions, and after the repair from the values above and below,
// one above the other. Writes a binary PPM, which `cmake --build --preset default --target
// repair_pictures` turns into docs/colour_repair.png and docs/mono_repair.png (see
// tools/CMakeLists.txt).
//
// Usage: tarnis_colour_picture FRAME.fit OUTPUT.ppm X Y WIDTH HEIGHT SCALE

#include "engine/fits_header.h"
#include "engine/repair.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Rgb = std::array<double, 3>;

// The stretch of the picture, chosen for the colour sample: each colour's sky level is taken off,
// each is weighed so that the sky comes out grey, and an arcsine-like curve brings out the faint
// nebula without burning out the stars.
constexpr Rgb kSky = {620, 800, 580};
constexpr Rgb kWeight = {1.0, 0.8, 1.1};
constexpr double kWhite = 12000;
constexpr double kCurve = 12;
// A monochrome frame's stretch, chosen for the monochrome sample: below its sky level, and a
// steeper curve over the whole range, so that both the sky's noise and a star's core show.
constexpr double kMonoSky = 700;
constexpr double kMonoWhite = 40000;
constexpr double kMonoCurve = 400;

class Frame {
public:
    Frame(const Bytes& file, const tarnis::ImageLayout& layout)
        : file_(file), layout_(layout), width_(layout.rowBytes / 2)
    {
    }

    // The physical value of the sample at (x, y): stored value + 32768.
    [[nodiscard]] double at(std::int64_t x, std::int64_t y) const
    {
        const auto pos = static_cast<std::size_t>(layout_.dataStart + y * layout_.rowBytes + 2 * x);
        return static_cast<double>((file_[pos] << 8 | file_[pos + 1]) ^ 0x8000);
    }

    // Red at (even, even), blue at (odd, odd), green elsewhere: the RGGB mosaic.
    static int colourAt(std::int64_t x, std::int64_t y) { return static_cast<int>(y % 2 + x % 2); }

    // Bilinear debayering: a pixel's own colour as it is, each other colour the mean of that
    // colour's samples among its eight neighbours.
    [[nodiscard]] Rgb pixel(std::int64_t x, std::int64_t y) const
    {
        Rgb sum{};
        Rgb count{};
        for (std::int64_t ny = y - 1; ny <= y + 1; ++ny) {
            for (std::int64_t nx = x - 1; nx <= x + 1; ++nx) {
                if (nx < 0 || ny < 0 || nx >= width_ || ny >= layout_.rows)
                    continue;
                const int colour = colourAt(nx, ny);
                if (colour == colourAt(x, y) && (nx != x || ny != y))
                    continue;
                sum[static_cast<std::size_t>(colour)] += at(nx, ny);
                count[static_cast<std::size_t>(colour)] += 1;
            }
        }
        for (std::size_t c = 0; c < 3; ++c)
            sum[c] /= count[c];
        return sum;
    }

private:
    const Bytes& file_;
    tarnis::ImageLayout layout_;
    std::int64_t width_;
};

unsigned char shown(double value, std::size_t colour, bool mono)
{
    const double linear = std::clamp(mono ? (value - kMonoSky) / kMonoWhite
                                          : (value - kSky[colour]) * kWeight[colour] / kWhite,
                                     0.0, 1.0);
    const double curve = mono ? kMonoCurve : kCurve;
    return static_cast<unsigned char>(
        std::lround(255 * std::asinh(curve * linear) / std::asinh(curve)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s FRAME.fit OUTPUT.ppm X Y WIDTH HEIGHT SCALE\n", argv[0]);
        return 2;
    }
    try {
        std::ifstream in(argv[1], std::ios::binary);
        const Bytes captured{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const tarnis::ImageLayout layout = tarnis::readImageLayout(captured);
        const std::int64_t x0 = std::stoll(argv[3]), y0 = std::stoll(argv[4]);
        const std::int64_t width = std::stoll(argv[5]), height = std::stoll(argv[6]),
                           scale = std::stoll(argv[7]);
        if (x0 < 0 || y0 < 0 || width < 1 || height < 1 || scale < 1
            || 2 * (x0 + width) > layout.rowBytes || y0 + height > layout.rows) {
            std::fprintf(stderr, "%s: the crop lies outside the frame\n", argv[0]);
            return 1;
        }

        // A colour frame as captured, repaired as a frame of one colour, and as the colour frame it
        // is; a monochrome one as captured, by the byte rule and by the values.
        const bool mono = layout.mosaic == tarnis::Mosaic::None;
        const auto length = static_cast<std::int64_t>(captured.size());
        Bytes worse = captured;
        Bytes better = captured;
        tarnis::ImageLayout oneColour = layout;
        oneColour.mosaic = tarnis::Mosaic::None;
        (void)tarnis::repairDropouts(worse, length, oneColour,
                                     mono ? tarnis::RepairRule::Bytes : tarnis::RepairRule::Values);
        (void)tarnis::repairDropouts(better, length, layout);
        const std::array<Frame, 3> panels{Frame(captured, layout), Frame(worse, layout),
                                          Frame(better, layout)};

        // Side by side, or, for the monochrome sample's wide strip, one above the other, with white
        // between them.
        constexpr std::int64_t kGap = 8;
        const std::int64_t panelWidth = width * scale;
        const std::int64_t panelHeight = height * scale;
        const std::int64_t pictureWidth = mono ? panelWidth : 3 * panelWidth + 2 * kGap;
        const std::int64_t pictureHeight = mono ? 3 * panelHeight + 2 * kGap : panelHeight;
        std::vector<unsigned char> picture(
            static_cast<std::size_t>(pictureWidth * pictureHeight * 3), 255);
        for (std::size_t panel = 0; panel < panels.size(); ++panel) {
            const auto offset = static_cast<std::int64_t>(panel)
                                * (mono ? (panelHeight + kGap) * pictureWidth : panelWidth + kGap);
            for (std::int64_t y = 0; y < panelHeight; ++y) {
                for (std::int64_t x = 0; x < panelWidth; ++x) {
                    const std::int64_t fx = x0 + x / scale, fy = y0 + y / scale;
                    const double grey = panels[panel].at(fx, fy);
                    const Rgb rgb = mono ? Rgb{grey, grey, grey} : panels[panel].pixel(fx, fy);
                    const auto at = static_cast<std::size_t>(3 * (offset + y * pictureWidth + x));
                    for (std::size_t c = 0; c < 3; ++c)
                        picture[at + c] = shown(rgb[c], c, mono);
                }
            }
        }
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out << "P6\n" << pictureWidth << ' ' << pictureHeight << "\n255\n";
        out.write(reinterpret_cast<const char*>(picture.data()),
                  static_cast<std::streamsize>(picture.size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
