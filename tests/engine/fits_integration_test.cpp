// Real FITS files, as a camera would write them, written and read back with CFITSIO.
#include "engine/batch.h"

#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarnis {
namespace {

constexpr long kWidth = 6080;
constexpr long kHeight = 6;

struct Pixel {
    long x;
    long y;
};

// Stored (offset) value of every pixel, as the file holds it: physical value + 32768.
using Stored = std::vector<std::uint16_t>;

std::uint16_t& at(Stored& image, long x, long y)
{
    return image[static_cast<std::size_t>(y * kWidth + x)];
}

std::uint16_t at(const Stored& image, long x, long y)
{
    return image[static_cast<std::size_t>(y * kWidth + x)];
}

void check(int status, const char* what)
{
    if (status != 0) {
        char text[FLEN_STATUS];
        fits_get_errstatus(status, text);
        FAIL() << what << ": " << text;
    }
}

void writeFits(const std::string& path, const Stored& stored)
{
    fitsfile* file = nullptr;
    int status = 0;
    long axes[2] = {kWidth, kHeight};
    fits_create_file(&file, path.c_str(), &status);
    fits_create_img(file, USHORT_IMG, 2, axes, &status); // BITPIX 16, BZERO 32768
    fits_write_key_str(file, "OBJECT", "M42", "target", &status);
    fits_write_key_dbl(file, "EXPTIME", 120.0, 3, "seconds", &status);
    std::vector<unsigned short> physical(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        physical[i] = static_cast<unsigned short>(stored[i] - 32768);
    fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(physical.size()), physical.data(), &status);
    fits_close_file(file, &status);
    check(status, "writing the FITS file");
}

std::pair<std::vector<std::string>, Stored> readFits(const std::string& path)
{
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_file(&file, path.c_str(), READONLY, &status);
    int cards = 0;
    fits_get_hdrspace(file, &cards, nullptr, &status);
    std::vector<std::string> header;
    for (int i = 1; i <= cards; ++i) {
        char card[FLEN_CARD];
        fits_read_record(file, i, card, &status);
        header.emplace_back(card);
    }
    std::vector<unsigned short> physical(static_cast<std::size_t>(kWidth * kHeight));
    int anyNull = 0;
    fits_read_img(file, TUSHORT, 1, static_cast<LONGLONG>(physical.size()), nullptr, physical.data(), &anyNull, &status);
    fits_close_file(file, &status);
    check(status, "reading the FITS file");
    Stored stored(physical.size());
    for (std::size_t i = 0; i < physical.size(); ++i)
        stored[i] = static_cast<std::uint16_t>(physical[i] + 32768);
    return {header, stored};
}

unsigned combine(unsigned below, unsigned above)
{
    return below > 0 && above > 0 ? (below + above) / 2 : below + above;
}

TEST(FitsFiles, dropouts_are_repaired_from_the_rows_above_and_below_and_all_else_is_kept)
{
    test::ScratchDir scratch;
    Stored original(static_cast<std::size_t>(kWidth * kHeight));
    for (long y = 0; y < kHeight; ++y)
        for (long x = 0; x < kWidth; ++x)
            at(original, x, y) = static_cast<std::uint16_t>(32768 + 1000 + (x * 7 + y * 131) % 20000);
    // Physical 0 is stored as 0x8000: one in the first row (never repaired), some in the middle
    // rows, and some in the last row, where only the row above is there.
    const std::vector<Pixel> dropouts = {{100, 0}, {1, 1}, {3000, 2}, {6079, 3}, {17, 4}, {5, 5}, {4000, 5}};
    Stored withDropouts = original;
    for (const Pixel& p : dropouts)
        at(withDropouts, p.x, p.y) = 0x8000;
    const std::string input = scratch.dirPath() + "m42.fit";
    writeFits(input, withDropouts);
    const test::Bytes inputBytes = test::readFile(scratch.file("m42.fit"));

    test::MemoryFileList list({"m42.fit"});
    RunValues run;
    FileSlot slot;
    runBatch(list, {scratch.dirPath(), 2}, run, slot);

    const auto [inputHeader, inputPixels] = readFits(input);
    const auto [outputHeader, outputPixels] = readFits(scratch.dirPath() + "m42_R.fit");
    EXPECT_EQ(outputHeader, inputHeader);
    EXPECT_EQ(test::readFile(scratch.file("m42_R.fit")).size(), inputBytes.size());

    // The high byte comes from the samples above and below; the low byte from the samples one
    // place to the left of those. No dropout here has another dropout as a neighbour.
    Stored expected = withDropouts;
    for (const Pixel& p : dropouts) {
        if (p.y == 0)
            continue;
        const bool lastRow = p.y == kHeight - 1;
        const unsigned high = combine(lastRow ? 0 : at(withDropouts, p.x, p.y + 1) >> 8, at(withDropouts, p.x, p.y - 1) >> 8);
        const unsigned low = combine(lastRow ? 0 : at(withDropouts, p.x - 1, p.y + 1) & 0xFF,
                                     at(withDropouts, p.x - 1, p.y - 1) & 0xFF);
        at(expected, p.x, p.y) = static_cast<std::uint16_t>(high << 8 | low);
    }
    EXPECT_EQ(at(outputPixels, 100, 0), 0x8000);
    EXPECT_NE(at(outputPixels, 3000, 2), 0x8000);
    for (const Pixel& p : dropouts)
        EXPECT_EQ(at(outputPixels, p.x, p.y), at(expected, p.x, p.y)) << "pixel " << p.x << "," << p.y;
    EXPECT_TRUE(outputPixels == expected) << "a pixel that was no dropout changed";
    EXPECT_EQ(test::readFile(scratch.file("m42.fit")), inputBytes);
}

} // namespace
} // namespace tarnis
