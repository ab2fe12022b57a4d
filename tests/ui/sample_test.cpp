#include "engine/fits_header.h"
#include "engine/repair.h"
#include "tests/support/files.h"

#include <fitsio.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace tarnis {
namespace {

// The samples a new user tries first: each must be an image of the kind Tarnis repairs, and the
// repair must visibly change it.

struct SampleCase {
    std::string path;
    long width;
    std::int64_t dataStart; // where the header ends
};

void PrintTo(const SampleCase& c, std::ostream* out)
{
    *out << c.path;
}

class Sample : public ::testing::TestWithParam<SampleCase> {};

TEST_P(Sample, is_a_16_bit_fits_image_of_its_cameras_width_with_unsigned_samples)
{
    fitsfile* file = nullptr;
    int status = 0;
    ASSERT_EQ(fits_open_file(&file, GetParam().path.c_str(), READONLY, &status), 0) << status;
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
    EXPECT_EQ(size[0], GetParam().width);
    EXPECT_GE(size[1], 3) << "a few rows, so that there are rows above and below a dropout";
    EXPECT_EQ(zero, 32768.0);
}

TEST_P(Sample, has_dropouts_below_its_first_row_that_the_repair_changes)
{
    test::Bytes image = test::readFile(GetParam().path);
    ASSERT_LT(image.size(), 200u * 1024u);
    const ImageLayout layout = readImageLayout(image);
    EXPECT_EQ(layout.dataStart, GetParam().dataStart);

    const auto length = static_cast<std::int64_t>(image.size());
    const RepairCounts counts = repairDropouts(image, length, layout);

    EXPECT_EQ(counts.leftInFirstRow, 0) << "the first row is never repaired, so it has no dropouts";
    EXPECT_GE(counts.repaired, 10);
}

INSTANTIATE_TEST_SUITE_P(Samples, Sample,
                         ::testing::Values(SampleCase{TARNIS_SAMPLES "/m42_dropouts.fit", 6080, 2880},
                                           SampleCase{TARNIS_SAMPLES "/ngc7000_4144_dropouts.fit", 4144, 5760}),
                         [](const auto& info) { return info.index == 0 ? "camera_6080" : "camera_4144"; });

} // namespace
} // namespace tarnis
