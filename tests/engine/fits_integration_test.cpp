// Real FITS files of several cameras, written and read back with CFITSIO.
#include "engine/batch.h"

#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tarnis {
namespace {

struct Pixel {
    long x;
    long y;
    long plane = 0;
};

struct Image {
    long width;
    long height;
    long planes;
    std::vector<std::uint16_t> stored; // as the file holds them: physical value + 32768

    std::uint16_t& at(long x, long y, long plane) { return stored[index(x, y, plane)]; }
    [[nodiscard]] std::size_t index(long x, long y, long plane) const
    {
        return static_cast<std::size_t>((plane * height + y) * width + x);
    }
};

struct FitsFile {
    std::vector<std::string> cards;     // of the primary header
    std::vector<std::uint16_t> pixels;  // stored values of the primary image
    std::vector<std::uint16_t> extension; // stored values of the image extension, if there is one
};

void check(int status, const char* what)
{
    if (status != 0) {
        char text[FLEN_STATUS];
        fits_get_errstatus(status, text);
        FAIL() << what << ": " << text;
    }
}

std::vector<std::uint16_t> physicalOf(const std::vector<std::uint16_t>& stored)
{
    std::vector<std::uint16_t> physical(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        physical[i] = static_cast<std::uint16_t>(stored[i] - 32768);
    return physical;
}

void writeFits(const std::string& path, const Image& image, int historyCards, const std::vector<std::uint16_t>& extension)
{
    fitsfile* file = nullptr;
    int status = 0;
    long axes[3] = {image.width, image.height, image.planes};
    fits_create_file(&file, path.c_str(), &status);
    fits_create_img(file, USHORT_IMG, image.planes > 1 ? 3 : 2, axes, &status); // BITPIX 16, BZERO 32768
    fits_write_key_str(file, "OBJECT", "M42", "target", &status);
    for (int i = 0; i < historyCards; ++i)
        fits_write_history(file, ("capture program card " + std::to_string(i)).c_str(), &status);
    std::vector<std::uint16_t> physical = physicalOf(image.stored);
    fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(physical.size()), physical.data(), &status);
    if (!extension.empty()) {
        long extensionAxes[2] = {static_cast<long>(extension.size()), 1};
        fits_create_img(file, USHORT_IMG, 2, extensionAxes, &status);
        physical = physicalOf(extension);
        fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(physical.size()), physical.data(), &status);
    }
    fits_close_file(file, &status);
    check(status, "writing the FITS file");
}

std::vector<std::uint16_t> readPixels(fitsfile* file, std::size_t count, int& status)
{
    std::vector<std::uint16_t> physical(count);
    int anyNull = 0;
    fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(count), nullptr, physical.data(), &anyNull, &status);
    for (auto& value : physical)
        value = static_cast<std::uint16_t>(value + 32768);
    return physical;
}

FitsFile readFits(const std::string& path, std::size_t pixelCount, std::size_t extensionCount)
{
    FitsFile result;
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_file(&file, path.c_str(), READONLY, &status);
    int cards = 0;
    fits_get_hdrspace(file, &cards, nullptr, &status);
    for (int i = 1; i <= cards; ++i) {
        char card[FLEN_CARD];
        fits_read_record(file, i, card, &status);
        result.cards.emplace_back(card);
    }
    result.pixels = readPixels(file, pixelCount, status);
    if (extensionCount > 0) {
        fits_movabs_hdu(file, 2, nullptr, &status);
        result.extension = readPixels(file, extensionCount, status);
    }
    fits_close_file(file, &status);
    check(status, "reading the FITS file");
    return result;
}

unsigned combine(unsigned below, unsigned above)
{
    return below > 0 && above > 0 ? (below + above) / 2 : below + above;
}

struct CameraCase {
    std::string label;
    long width;
    long height;
    long planes;
    int historyCards;              // enough of them make the header longer than one record
    bool extension;                // an image extension after the primary image, full of 80 00 pairs
    std::vector<Pixel> dropouts;   // none next to another, above or below
};

void PrintTo(const CameraCase& c, std::ostream* out)
{
    *out << c.label;
}

class FitsFiles : public ::testing::TestWithParam<CameraCase> {};

TEST_P(FitsFiles, dropouts_are_repaired_from_the_rows_above_and_below_and_all_else_is_kept)
{
    const CameraCase& c = GetParam();
    test::ScratchDir scratch;
    Image image{c.width, c.height, c.planes, std::vector<std::uint16_t>(static_cast<std::size_t>(c.width * c.height * c.planes))};
    for (std::size_t i = 0; i < image.stored.size(); ++i)
        image.stored[i] = static_cast<std::uint16_t>(32768 + 1000 + (i * 7 + i / 97 * 131) % 20000);
    for (const Pixel& p : c.dropouts)
        image.at(p.x, p.y, p.plane) = 0x8000; // physical 0
    const std::vector<std::uint16_t> extension(c.extension ? 300 : 0, 0x8000);
    writeFits(scratch.dirPath() + "frame.fit", image, c.historyCards, extension);
    const test::Bytes inputBytes = test::readFile(scratch.file("frame.fit"));

    test::MemoryFileList list({"frame.fit"});
    RunValues run;
    FileSlot slot;
    runBatch(list, {scratch.dirPath(), 2}, run, slot);

    const FitsFile input = readFits(scratch.dirPath() + "frame.fit", image.stored.size(), extension.size());
    const FitsFile output = readFits(scratch.dirPath() + "frame_R.fit", image.stored.size(), extension.size());
    EXPECT_EQ(output.cards, input.cards);
    EXPECT_EQ(output.extension, extension);
    EXPECT_EQ(test::readFile(scratch.file("frame_R.fit")).size(), inputBytes.size());
    EXPECT_EQ(test::readFile(scratch.file("frame.fit")), inputBytes);

    // The high byte comes from the samples above and below; the low byte from the samples one
    // place before those in the file, which for the first column is the end of the row before.
    // A plane's first row keeps its dropouts: no row above it belongs to its plane.
    std::vector<std::uint16_t> expected = image.stored;
    const auto samples = static_cast<long>(c.width * c.height);
    for (const Pixel& p : c.dropouts) {
        if (p.y == 0)
            continue;
        const long i = p.y * c.width + p.x; // within the plane
        const auto stored = [&](long at) { return image.stored[static_cast<std::size_t>(p.plane * samples + at)]; };
        const unsigned high = combine(i + c.width < samples ? stored(i + c.width) >> 8 : 0, stored(i - c.width) >> 8);
        const unsigned low = combine(i + c.width - 1 < samples ? stored(i + c.width - 1) & 0xFF : 0,
                                     stored(i - c.width - 1) & 0xFF);
        expected[image.index(p.x, p.y, p.plane)] = static_cast<std::uint16_t>(high << 8 | low);
    }
    for (const Pixel& p : c.dropouts)
        EXPECT_EQ(output.pixels[image.index(p.x, p.y, p.plane)], expected[image.index(p.x, p.y, p.plane)])
            << "pixel " << p.x << "," << p.y << " of plane " << p.plane;
    EXPECT_TRUE(output.pixels == expected) << "a pixel that was no dropout changed";
}

INSTANTIATE_TEST_SUITE_P(
    Engine, FitsFiles,
    ::testing::Values(
        CameraCase{"camera_this_tool_was_made_for", 6080, 6, 1, 0, false,
                   {{100, 0}, {1, 1}, {3000, 2}, {6079, 3}, {17, 4}, {5, 5}, {4000, 5}}},
        CameraCase{"another_width_with_a_long_header", 4144, 5, 1, 60, false,
                   {{0, 0}, {4143, 1}, {0, 2}, {2072, 3}, {0, 4}, {4000, 4}}},
        CameraCase{"cube_whose_planes_do_not_reach_into_each_other", 300, 4, 3, 0, false,
                   {{10, 3, 0}, {10, 0, 1}, {299, 0, 1}, {50, 1, 1}, {0, 3, 1}, {150, 2, 2}, {7, 3, 2}}},
        CameraCase{"image_followed_by_an_extension", 500, 5, 1, 0, true, {{20, 1}, {499, 4}, {0, 4}}}),
    [](const auto& info) { return info.param.label; });

} // namespace
} // namespace tarnis
