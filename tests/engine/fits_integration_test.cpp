// Real FITS files, as CFITSIO writes them: images of several cameras before and after a run.
#include "engine/batch.h"

#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/plain_repair.h"
#include "tests/support/scratch_dir.h"

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using Stored = std::vector<std::uint16_t>; // samples as the file holds them: physical value + 32768

void writeImage(fitsfile* file, std::vector<long> axes, const Stored& stored, int& status)
{
    fits_create_img(file, USHORT_IMG, static_cast<int>(axes.size()), axes.data(),
                    &status); // BITPIX 16, BZERO 32768
    Stored physical(stored);
    for (auto& value : physical)
        value = static_cast<std::uint16_t>(value - 32768);
    fits_write_img(file, TUSHORT, 1, static_cast<LONGLONG>(physical.size()), physical.data(),
                   &status);
}

struct CameraCase {
    std::string label;
    long width;
    long height;
    long planes;
    int historyCards; // enough of them make the header longer than one record
    bool extension;   // an image extension after the primary image, full of 80 00
    std::vector<std::vector<long>> dropouts; // x, y, plane
    std::string bayerPattern = {};           // BAYERPAT of a colour camera
};

void PrintTo(const CameraCase& c, std::ostream* out) { *out << c.label; }

class FitsFiles : public ::testing::TestWithParam<CameraCase> {};

TEST_P(FitsFiles, dropouts_are_repaired_as_their_camera_needs_and_all_else_is_kept)
{
    const CameraCase& c = GetParam();
    const long samples = c.width * c.height; // of one plane
    const auto at = [&](long x, long y, long plane) {
        return static_cast<std::size_t>(plane * samples + y * c.width + x);
    };
    Stored image(static_cast<std::size_t>(samples * c.planes));
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint16_t>(32768 + 1000 + (i * 7 + i / 97 * 131) % 20000);
    for (const auto& p : c.dropouts)
        image[at(p[0], p[1], p[2])] = 0x8000; // physical 0
    test::ScratchDir scratch;
    const std::string input = scratch.dirPath() + "frame.fit";
    int status = 0;
    fitsfile* file = nullptr;
    fits_create_file(&file, input.c_str(), &status);
    writeImage(file,
               c.planes > 1 ? std::vector<long>{c.width, c.height, c.planes}
                            : std::vector<long>{c.width, c.height},
               image, status);
    if (!c.bayerPattern.empty())
        fits_write_key_str(file, "BAYERPAT", c.bayerPattern.c_str(), "Bayer color pattern",
                           &status);
    for (int i = 0; i < c.historyCards; ++i)
        fits_write_history(file, ("capture program card " + std::to_string(i)).c_str(), &status);
    if (c.extension)
        writeImage(file, {300, 1}, Stored(300, 0x8000), status);
    LONGLONG dataStart =
        0; // where CFITSIO put the primary image, after however many header records
    fits_movabs_hdu(file, 1, nullptr, &status);
    fits_get_hduaddrll(file, nullptr, &dataStart, nullptr, &status);
    fits_close_file(file, &status);
    char text[FLEN_STATUS] = "";
    fits_get_errstatus(status, text);
    ASSERT_EQ(status, 0) << text;
    const test::Bytes inputBytes = test::readFile(scratch.file("frame.fit"));

    test::MemoryFileList list({"frame.fit"});
    RunValues run;
    FileSlot slot;
    runBatch(list, {scratch.dirPath(), 2}, run, slot);

    // The image's dropouts repaired where the file says its image lies, by the rule its camera
    // needs; every other byte, header cards, padding and the extension's 80 00 samples included,
    // as it was.
    test::Bytes expected = inputBytes;
    const Mosaic mosaic = c.bayerPattern.empty() ? Mosaic::None : Mosaic::Bayer;
    test::repairPlainly(expected, static_cast<std::int64_t>(expected.size()),
                        {dataStart, 2 * c.width, c.height, c.planes, mosaic});
    EXPECT_TRUE(test::readFile(scratch.file("frame_R.fit")) == expected)
        << "a repaired sample is not as computed, or another byte changed";
    EXPECT_EQ(test::readFile(scratch.file("frame.fit")), inputBytes);
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Engine, FitsFiles,
    ::testing::Values(
        CameraCase{"camera_this_tool_was_made_for", 6080, 6, 1, 0, false,
                   {{100, 0, 0}, {1, 1, 0}, {3000, 2, 0}, {6079, 3, 0}, {17, 4, 0}, {5, 5, 0}, {4000, 5, 0}}},
        CameraCase{"another_width_with_a_long_header", 4144, 5, 1, 60, false,
                   {{0, 0, 0}, {4143, 1, 0}, {0, 2, 0}, {2072, 3, 0}, {0, 4, 0}, {4000, 4, 0}}},
        CameraCase{"cube_whose_planes_do_not_reach_into_each_other", 300, 4, 3, 0, false,
                   {{10, 3, 0}, {10, 0, 1}, {299, 0, 1}, {50, 1, 1}, {0, 3, 1}, {150, 2, 2}, {7, 3, 2}}},
        CameraCase{"image_followed_by_an_extension", 500, 5, 1, 0, true, {{20, 1, 0}, {499, 4, 0}, {0, 4, 0}}},
        // Rows 0 to 3, the last two rows, the first and last columns, and a column of dropouts two
        // rows apart, each taking the one above as repaired.
        CameraCase{"colour_camera", 400, 9, 1, 0, false,
                   {{5, 0, 0}, {6, 1, 0}, {0, 2, 0}, {399, 3, 0}, {50, 2, 0}, {50, 4, 0}, {50, 6, 0}, {50, 8, 0}, {7, 7, 0}, {8, 8, 0}},
                   "RGGB"},
        // Larger than the stretch the run repairs at a time, which ends after sample 287 of row
        // 524: the samples about that end take the ones two rows up as repaired and two rows down
        // as read, wherever those lie.
        CameraCase{"colour_camera_larger_than_a_window", 1000, 600, 1, 0, false,
                   {{288, 522, 0}, {288, 524, 0}, {288, 526, 0}, {287, 524, 0}, {287, 526, 0}, {286, 522, 0}, {286, 526, 0}},
                   "GRBG"}),
    [](const auto& info) { return info.param.label; });
// clang-format on

} // namespace
} // namespace tarnis
