#include "engine/repair.h"

#include "tests/support/plain_repair.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <map>
#include <optional>
#include <span>
#include <random>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kHeader = 2880;
constexpr std::int64_t kRow = 12160;
constexpr std::int64_t kFiveRows = kHeader + 5 * kRow;

void putDropout(Bytes& data, std::int64_t pos)
{
    data[pos] = 0x80;
    data[pos + 1] = 0x00;
}

// One dropout sample among bytes of 0x01, with chosen neighbour bytes (offsets from the sample).
struct SingleDropoutCase {
    std::string name;
    std::int64_t length;
    std::int64_t pos;
    std::map<std::int64_t, std::uint8_t> neighbours;
    std::uint8_t high;
    std::uint8_t low;
};

class SingleDropout : public ::testing::TestWithParam<SingleDropoutCase> {};

TEST_P(SingleDropout, is_rewritten_from_its_neighbours_and_nothing_else_changes)
{
    const SingleDropoutCase& c = GetParam();
    Bytes data(static_cast<std::size_t>(c.length), 0x01);
    for (const auto& [offset, value] : c.neighbours)
        data[c.pos + offset] = value;
    putDropout(data, c.pos);
    Bytes expected = data;
    expected[c.pos] = c.high;
    expected[c.pos + 1] = c.low;

    repairDropouts(data, c.length);

    EXPECT_EQ(int{data[c.pos]}, int{c.high});
    EXPECT_EQ(int{data[c.pos + 1]}, int{c.low});
    EXPECT_EQ(data, expected);
}

const std::int64_t kMid = kHeader + 2 * kRow + 100;
const std::int64_t kLastRowStart = kFiveRows - kRow;

INSTANTIATE_TEST_SUITE_P(
    Repair, SingleDropout,
    ::testing::Values(
        SingleDropoutCase{"worked_example", kFiveRows, kMid,
                          {{-kRow, 0x40}, {-kRow - 1, 0x11}, {kRow, 0x60}, {kRow - 1, 0x20}}, 0x50, 0x18},
        SingleDropoutCase{"mean_rounds_down_and_ff_stays_ff", kFiveRows, kMid,
                          {{-kRow, 0x81}, {kRow, 0x80}, {-kRow - 1, 0xFF}, {kRow - 1, 0xFF}}, 0x80, 0xFF},
        SingleDropoutCase{"one_zero_neighbour_copies_the_other", kFiveRows, kMid,
                          {{-kRow, 0x00}, {kRow, 0x37}, {-kRow - 1, 0x37}, {kRow - 1, 0x00}}, 0x37, 0x37},
        SingleDropoutCase{"two_zero_neighbours_give_zero", kFiveRows, kMid,
                          {{-kRow, 0x00}, {kRow, 0x00}, {-kRow - 1, 0x00}, {kRow - 1, 0x00}}, 0x00, 0x00},
        SingleDropoutCase{"first_repairable_sample_takes_the_headers_last_byte", kFiveRows, kHeader + kRow,
                          {{-kRow, 0x20}, {kRow, 0x40}, {-kRow - 1, 0x30}, {kRow - 1, 0x50}}, 0x30, 0x40},
        SingleDropoutCase{"last_row_copies_the_row_above", kFiveRows, kLastRowStart + 10,
                          {{-kRow, 0x44}, {-kRow - 1, 0x22}}, 0x44, 0x22},
        SingleDropoutCase{"last_row_start_low_byte_uses_the_buffers_last_byte", kFiveRows, kLastRowStart,
                          {{-kRow, 0x44}, {-kRow - 1, 0x30}, {kRow - 1, 0x10}}, 0x44, 0x20},
        SingleDropoutCase{"row_above_last_uses_both_neighbours", kFiveRows, kLastRowStart - 2,
                          {{-kRow, 0x10}, {kRow, 0x30}, {-kRow - 1, 0x02}, {kRow - 1, 0x04}}, 0x20, 0x03},
        SingleDropoutCase{"first_row_start_is_never_repaired", kFiveRows, kHeader,
                          {{kRow, 0x60}, {kRow - 1, 0x20}}, 0x80, 0x00},
        SingleDropoutCase{"first_row_end_is_never_repaired", kFiveRows, kHeader + kRow - 2,
                          {{-kRow, 0x40}, {kRow, 0x60}}, 0x80, 0x00}),
    [](const auto& info) { return info.param.name; });

TEST(Repair, leaves_samples_that_only_look_like_dropouts_alone)
{
    Bytes data(static_cast<std::size_t>(kFiveRows), 0x42);
    const std::int64_t pos = kMid;
    data[pos + 1] = 0x80; // 80 00 across two samples, at an odd position
    data[pos + 2] = 0x00;
    data[pos + 10] = 0x80; // 80 01
    data[pos + 11] = 0x01;
    data[pos + 20] = 0x7F; // 7F 00
    data[pos + 21] = 0x00;
    const Bytes before = data;

    repairDropouts(data, kFiveRows);

    EXPECT_EQ(data, before);
}

TEST(Repair, vertical_run_takes_the_already_repaired_sample_above)
{
    Bytes data(static_cast<std::size_t>(kFiveRows), 0x01);
    const std::int64_t upper = kHeader + 2 * kRow + 40;
    const std::int64_t lower = upper + kRow;
    data[upper - kRow] = 0x40;
    data[upper - 1] = 0x07;      // left of the upper sample: the lower sample's low "above"
    data[lower + kRow] = 0x61;   // below the lower sample
    data[lower + kRow - 1] = 0x09;
    putDropout(data, upper);
    putDropout(data, lower);

    repairDropouts(data, kFiveRows);

    // The upper sample's high byte comes from 0x40 and the lower sample's 0x80: 0x60.
    EXPECT_EQ(int{data[upper]}, 0x60);
    // The lower one then takes the repaired 0x60, not the 0x80 that was read from the file.
    EXPECT_EQ(int{data[lower]}, (0x60 + 0x61) / 2);
    // Its low byte reads the byte left of the upper sample, never the upper sample's low byte.
    EXPECT_EQ(int{data[lower + 1]}, (0x07 + 0x09) / 2);
}

TEST(Repair, second_row_between_dropouts_becomes_a_dropout_again_when_its_left_neighbours_are_zero)
{
    Bytes data(static_cast<std::size_t>(kFiveRows), 0x01);
    const std::int64_t pos = kHeader + kRow + 200;
    putDropout(data, pos - kRow); // first row: never repaired
    putDropout(data, pos);
    putDropout(data, pos + kRow);
    data[pos - kRow - 1] = 0x00;
    data[pos + kRow - 1] = 0x00;

    repairDropouts(data, kFiveRows);

    // One pass only: the sample comes out as 80 00 and stays so.
    EXPECT_EQ(int{data[pos]}, 0x80);
    EXPECT_EQ(int{data[pos + 1]}, 0x00);
}

TEST(Repair, buffers_no_longer_than_the_header_are_left_unchanged)
{
    for (const std::int64_t length : {0, 1, 2, 2879, 2880}) {
        Bytes data(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = i % 2 == 0 ? 0x80 : 0x00;
        const Bytes before = data;
        repairDropouts(data, length);
        EXPECT_EQ(data, before) << "length " << length;
    }
}

TEST(Repair, odd_length_above_the_header_throws_before_changing_anything)
{
    for (const std::int64_t length : {kHeader + 1, kHeader + kRow + 1, kFiveRows + 1}) {
        Bytes data(static_cast<std::size_t>(length), 0x00);
        for (std::int64_t pos = 0; pos < length; pos += 2)
            data[pos] = 0x80; // every sample a dropout
        const Bytes before = data;
        EXPECT_THROW(repairDropouts(data, length), TruncatedImageError) << "length " << length;
        EXPECT_EQ(data, before) << "length " << length;
    }
}

TEST(Repair, length_beyond_the_buffer_is_refused)
{
    Bytes data(100, 0x80);
    EXPECT_THROW(repairDropouts(data, 101), std::invalid_argument);
    EXPECT_THROW(repairDropouts(data, -2), std::invalid_argument);
}

TEST(Repair, bytes_past_the_given_length_are_neither_read_as_neighbours_nor_changed)
{
    const std::int64_t length = kFiveRows;
    Bytes data(static_cast<std::size_t>(length + kRow), 0x77);
    const std::int64_t pos = length - kRow; // in the last row of the given length
    putDropout(data, pos);
    data[pos - kRow] = 0x10;
    data[pos - kRow - 1] = 0x20;
    data[length - 1] = 0x40;

    repairDropouts(data, length);

    EXPECT_EQ(int{data[pos]}, 0x10);
    EXPECT_EQ(int{data[pos + 1]}, (0x20 + 0x40) / 2);
    EXPECT_EQ(int{data[length + 10]}, 0x77);
}

// Buffers of many shapes, each run through both passes.
struct RandomShape {
    double dropoutShare;  // of all samples
    double verticalRuns;  // share of dropouts that start a run down the column
    double zeroBytes;     // share of bytes that are 0, the "not taken" value
    bool oddLength;
};

Bytes randomBuffer(std::mt19937_64& random, std::int64_t length, std::int64_t row, const RandomShape& shape)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Bytes data(static_cast<std::size_t>(length));
    for (auto& value : data)
        value = unit(random) < shape.zeroBytes ? 0 : static_cast<std::uint8_t>(byte(random));
    for (std::int64_t pos = kHeader; pos + 1 < length; pos += 2) {
        if (unit(random) >= shape.dropoutShare)
            continue;
        putDropout(data, pos);
        if (unit(random) < shape.verticalRuns) {
            const int rows = std::uniform_int_distribution<int>(1, 4)(random);
            for (int r = 1; r <= rows && pos + r * row + 1 < length; ++r)
                putDropout(data, pos + r * row);
        }
    }
    return data;
}

// Runs the fast repair on the buffer at addresses of every kind (aligned, odd, and even but not
// aligned) and with every scan, and holds each result against the plain loop's.
void expectSameAsPlainLoop(const Bytes& original, std::int64_t length, const std::optional<ImageLayout>& layout)
{
    Bytes plain = original;
    RepairCounts plainCounts;
    const bool plainSucceeds = layout ? test::repairPlainly(plain, length, *layout, &plainCounts)
                                      : test::repairPlainly(plain, length);
    for (const DropoutScan scan : {DropoutScan::Fastest, DropoutScan::Words}) {
        useDropoutScan(scan);
        for (const std::size_t offset : {0, 1, 2, 6}) {
            Bytes storage(offset, 0xEE);
            storage.insert(storage.end(), original.begin(), original.end());
            const std::span<std::uint8_t> fast = std::span(storage).subspan(offset);
            const auto repair = [&] {
                if (layout)
                    EXPECT_EQ(repairDropouts(fast, length, *layout), plainCounts);
                else
                    repairDropouts(fast, length);
            };
            if (plainSucceeds) {
                repair();
                ASSERT_TRUE(std::equal(fast.begin(), fast.end(), plain.begin(), plain.end()))
                    << "length " << length << ", offset " << offset << ", rows of " << (layout ? layout->rowBytes : kRow);
            } else {
                EXPECT_THROW(repair(), TruncatedImageError) << "length " << length;
                ASSERT_TRUE(std::equal(fast.begin(), fast.end(), original.begin(), original.end()));
            }
        }
    }
    useDropoutScan(DropoutScan::Fastest);
}

const RandomShape kShapes[] = {
    {0.0, 0.0, 0.0, false},   {0.0001, 0.0, 0.01, false}, {0.01, 0.3, 0.05, false},
    {0.2, 0.5, 0.2, false},   {1.0, 0.0, 0.0, false},     {0.05, 0.9, 0.5, false},
    {0.01, 0.3, 0.05, true},
};

TEST(Repair, fast_pass_matches_the_plain_loop_on_random_buffers)
{
    std::mt19937_64 random(20261206);
    // Lengths around the places where the rules change: header, first row, last row, block edges.
    // 27262 puts the last sample of a 64-byte block exactly one row before the end.
    std::vector<std::int64_t> lengths = {0,     2,     2880,  2882,  15038, 15040, 15042,    15072,
                                         27200, 27232, 27260, 27262, 27264, 27326, kFiveRows};
    std::uniform_int_distribution<std::int64_t> anyLength(kHeader, kFiveRows + kRow);
    for (int i = 0; i < 40; ++i)
        lengths.push_back(anyLength(random) & ~std::int64_t{1});

    for (const RandomShape& shape : kShapes) {
        for (std::int64_t length : lengths) {
            length += shape.oddLength ? 1 : 0;
            expectSameAsPlainLoop(randomBuffer(random, length, kRow, shape), length, std::nullopt);
        }
    }
}

// Frames of other cameras, longer headers, cubes, and files that end before or after the image.
TEST(Repair, fast_pass_matches_the_plain_loop_on_random_layouts)
{
    std::mt19937_64 random(4144);
    const auto pick = [&](std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random);
    };
    for (const RandomShape& shape : kShapes) {
        for (int i = 0; i < 30; ++i) {
            const std::int64_t width = i % 3 == 0 ? pick(1, 40) : pick(41, 5000);
            const ImageLayout layout{2880 * pick(1, 3), 2 * width, pick(1, 6), pick(1, 3)};
            const std::int64_t imageEnd = layout.dataStart + layout.rowBytes * layout.rows * layout.planes;
            std::int64_t length = std::max<std::int64_t>(0, imageEnd + 2 * pick(-layout.rowBytes, 3000));
            length += shape.oddLength ? 1 : 0;
            expectSameAsPlainLoop(randomBuffer(random, length, layout.rowBytes, shape), length, layout);
        }
    }
}

// Outputs already stored were made with the fixed layout: for a file of the camera, whose bytes
// after the image are zeros or absent, reading its header must give the very same bytes.
TEST(Repair, camera_frames_come_out_as_the_fixed_layout_made_them)
{
    std::mt19937_64 random(6080);
    for (const std::int64_t padding : {0, 1440, 2880 - 2 * 12160 % 2880}) {
        ImageLayout layout{2880, kRow, 7, 1};
        Bytes data = randomBuffer(random, kHeader + 7 * kRow, kRow, {0.02, 0.5, 0.02, false});
        data.resize(data.size() + static_cast<std::size_t>(padding), 0);
        Bytes fixed = data;
        const auto length = static_cast<std::int64_t>(data.size());

        repairDropouts(fixed, length);
        repairDropouts(data, length, layout);

        EXPECT_TRUE(data == fixed) << "padding " << padding;
    }
}

} // namespace
} // namespace tarnis
