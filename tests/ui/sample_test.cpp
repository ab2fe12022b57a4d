#include "engine/repair.h"
#include "tests/support/files.h"

#include <fitsio.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarnis {
namespace {

// The sample a new user tries first: it must be an image of the kind Tarnis repairs, and the
// repair must visibly change it.

constexpr std::int64_t kHeader = 2880;
constexpr std::int64_t kRow = 12160;

TEST(Sample, is_a_16_bit_fits_image_6080_samples_wide_with_unsigned_samples)
{
    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, TARNIS_SAMPLE_PATH, READONLY, &status), 0) << status;
    int bitpix = 0;
    int axes = 0;
    long size[2] = {};
    double zero = 0;
    fits_get_img_param(file, 2, &bitpix, &axes, size, &status);
    fits_read_key(file, TDOUBLE, "BZERO", &zero, nullptr, &status);
    // Reading the first row through the library checks the data's length too.
    std::vector<std::uint16_t> row(static_cast<std::size_t>(size[0]));
    long first[2] = {1, 1};
    fits_read_pix(file, TUSHORT, first, size[0], nullptr, row.data(), nullptr, &status);
    fits_close_file(file, &status);

    EXPECT_EQ(status, 0);
    EXPECT_EQ(bitpix, 16);
    EXPECT_EQ(axes, 2);
    EXPECT_EQ(size[0], 6080);
    EXPECT_GE(size[1], 3) << "a few rows, so that there are rows above and below a dropout";
    EXPECT_EQ(zero, 32768.0);
}

TEST(Sample, has_dropouts_below_its_first_row_that_the_repair_changes)
{
    test::Bytes image = test::readFile(TARNIS_SAMPLE_PATH);
    ASSERT_LT(image.size(), 200u * 1024u);
    ASSERT_GT(image.size(), static_cast<std::size_t>(kHeader + 3 * kRow));

    auto dropoutsIn = [](const test::Bytes& bytes, std::int64_t from, std::int64_t to) {
        int count = 0;
        for (std::int64_t pos = from; pos + 1 < to; pos += 2)
            count += bytes[static_cast<std::size_t>(pos)] == 0x80 && bytes[static_cast<std::size_t>(pos) + 1] == 0x00;
        return count;
    };
    const auto length = static_cast<std::int64_t>(image.size());
    EXPECT_EQ(dropoutsIn(image, kHeader, kHeader + kRow), 0) << "the first row is never repaired";
    const int before = dropoutsIn(image, kHeader + kRow, length);
    EXPECT_GE(before, 10);

    repairDropouts(image, length);

    EXPECT_LT(dropoutsIn(image, kHeader + kRow, length), before);
}

} // namespace
} // namespace tarnis
