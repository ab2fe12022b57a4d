// The dropout repair's rules on chosen samples. The fast pass is held against the plain loop on
// images of every layout by the fuzz target fuzz/repair_fuzz.cpp, whose corpus every build replays.
#include "engine/repair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Positions = std::map<std::int64_t, std::uint8_t>; // byte position: value

constexpr std::int64_t kHeader = 2880;
constexpr std::int64_t kRow = 12160;
constexpr std::int64_t kFiveRows = kHeader + 5 * kRow;
constexpr std::int64_t P = kHeader + 2 * kRow + 100; // a sample in the middle
constexpr std::int64_t L = kFiveRows - kRow;         // the last row's first sample
constexpr std::int64_t S = kHeader + kRow + 200;     // a sample in the second row
constexpr std::int64_t R(std::int64_t row) { return kHeader + row * kRow; }
// A monochrome frame of the five rows, one promising eight of which the file holds five, and a cube
// of planes of two rows whose third plane the file cuts short; the same in colour.
constexpr ImageLayout kMono{kHeader, kRow, 5, 1};
constexpr ImageLayout kMonoCutShort{kHeader, kRow, 8, 1};
constexpr ImageLayout kMonoCube{kHeader, kRow, 2, 3};
constexpr ImageLayout kBayer{kHeader, kRow, 5, 1, Mosaic::Bayer};
constexpr ImageLayout kBayerCube{kHeader, kRow, 3, 2, Mosaic::Bayer};
constexpr RepairRule ByValues = RepairRule::Values;
constexpr RepairRule ByBytes = RepairRule::Bytes;

// Bytes of 0x01, dropouts at `dropouts`, the bytes `bytes` as given, and `slack` bytes of 0x77 past
// the file's end; after the repair the bytes `after` must hold their values and all else be as it was.
// Without a layout the repair takes the camera's fixed one; with one, it gives `counts`.
struct RuleCase {
    std::string name;
    RepairRule rule;
    std::vector<std::int64_t> dropouts;
    Positions bytes;
    Positions after;
    std::int64_t slack = 0;
    std::optional<ImageLayout> layout = {};
    RepairCounts counts = {};
};

void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.name; }

class Rule : public ::testing::TestWithParam<RuleCase> {};

TEST_P(Rule, gives_the_bytes_it_states_and_changes_nothing_else)
{
    const RuleCase& c = GetParam();
    Bytes data(static_cast<std::size_t>(kFiveRows), 0x01);
    for (const std::int64_t pos : c.dropouts)
        data[pos] = 0x80, data[pos + 1] = 0x00;
    for (const auto& [pos, value] : c.bytes)
        data[pos] = value;
    data.resize(data.size() + static_cast<std::size_t>(c.slack), 0x77);
    Bytes expected = data;
    for (const auto& [pos, value] : c.after)
        expected[pos] = value;

    if (c.layout)
        EXPECT_EQ(repairDropouts(data, kFiveRows, *c.layout, c.rule), c.counts);
    else
        repairDropouts(data, kFiveRows, c.rule);

    EXPECT_EQ(data, expected);
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Repair, Rule,
    ::testing::Values(
        // Physical values are the stored ones + 32768: 87 5D is 1885, 86 F6 1782, 87 29 1833; 00 00
        // is 32768 and 00 FF 33023 (their high byte 0 is a value, not a missing neighbour); 7F FF is
        // 65535 and 80 01 is 1.
        RuleCase{"mean_of_the_values_above_and_below_rounded_down", ByValues, {P}, {{P - kRow, 0x87}, {P - kRow + 1, 0x5D}, {P + kRow, 0x86}, {P + kRow + 1, 0xF6}},
                 {{P, 0x87}, {P + 1, 0x29}}, 0, kMono, {1, 0}},
        RuleCase{"camera_layout_takes_the_mean_of_the_values_too", ByValues, {P}, {{P - kRow, 0x87}, {P - kRow + 1, 0x5D}, {P + kRow, 0x86}, {P + kRow + 1, 0xF6}},
                 {{P, 0x87}, {P + 1, 0x29}}},
        RuleCase{"values_with_a_zero_high_byte_are_neighbours", ByValues, {P}, {{P - kRow, 0}, {P - kRow + 1, 0}, {P + kRow, 0}, {P + kRow + 1, 0xFF}},
                 {{P, 0}, {P + 1, 0x7F}}, 0, kMono, {1, 0}},
        RuleCase{"values_near_0_and_65535", ByValues, {P, P + 10, P + 20},
                 {{P - kRow, 0x80}, {P - kRow + 1, 1}, {P + kRow, 0x80}, {P + kRow + 1, 2}, {P + 10 - kRow, 0x7F}, {P + 11 - kRow, 0xFF},
                  {P + 10 + kRow, 0x7F}, {P + 11 + kRow, 0xFE}, {P + 20 - kRow, 0x7F}, {P + 21 - kRow, 0xFF}, {P + 20 + kRow, 0x80}, {P + 21 + kRow, 1}},
                 {{P, 0x80}, {P + 1, 1}, {P + 10, 0x7F}, {P + 11, 0xFE}, {P + 20, 0}, {P + 21, 0}}, 0, kMono, {3, 0}},
        // A dropout is no neighbour: below the first row's dropout the sample takes the one below
        // alone; above the last row's, the one above, which then passes its value on down.
        RuleCase{"neighbour_that_is_a_dropout_is_not_taken", ByValues, {R(0) + 120, R(1) + 120, R(3) + 140, R(4) + 140},
                 {{R(2) + 120, 0x12}, {R(2) + 121, 0x34}, {R(2) + 140, 0x23}, {R(2) + 141, 0x45}},
                 {{R(1) + 120, 0x12}, {R(1) + 121, 0x34}, {R(3) + 140, 0x23}, {R(3) + 141, 0x45}, {R(4) + 140, 0x23}, {R(4) + 141, 0x45}},
                 0, kMono, {3, 1}},
        // In file order: the lower sample of a run takes the upper one as just repaired.
        RuleCase{"vertical_run_takes_the_repaired_sample_above", ByValues, {P, P + kRow}, {{P - kRow, 0}, {P - kRow + 1, 0x10}, {P + 2 * kRow, 0}, {P + 2 * kRow + 1, 0x30}},
                 {{P, 0}, {P + 1, 0x10}, {P + kRow, 0}, {P + kRow + 1, 0x20}}, 0, kMono, {2, 0}},
        // With dropouts above and below, as they stand, a sample is left; the one below it then
        // has only its own neighbour below.
        RuleCase{"sample_between_dropouts_is_left", ByValues, {R(0) + 60, R(1) + 60, R(2) + 60}, {{R(3) + 60, 0x44}, {R(3) + 61, 0x55}},
                 {{R(2) + 60, 0x44}, {R(2) + 61, 0x55}}, 0, kMono, {1, 2}},
        RuleCase{"first_row_is_left", ByValues, {kHeader, kHeader + kRow - 2}, {{kHeader + kRow, 0x60}}, {}, 0, kMono, {0, 2}},
        // Neither the bytes past the file nor the rows the header promised past them are neighbours.
        RuleCase{"file_cut_short_takes_its_last_row_from_the_row_above", ByValues, {L + 20}, {{L + 20 - kRow, 0x45}, {L + 21 - kRow, 0x67}},
                 {{L + 20, 0x45}, {L + 21, 0x67}}, kRow, kMonoCutShort, {1, 0}},
        RuleCase{"cube_each_plane_on_its_own", ByValues, {R(1) + 12, R(2) + 10, R(4) + 10},
                 {{R(0) + 12, 0x11}, {R(0) + 13, 0x22}, {R(2) + 12, 0x33}, {R(2) + 13, 0x44}, {R(3) + 10, 0x55}},
                 {{R(1) + 12, 0x11}, {R(1) + 13, 0x22}}, 0, kMonoCube, {1, 2}},
        // The byte rule of earlier versions, for the camera's fixed layout.
        RuleCase{"worked_example", ByBytes, {P}, {{P - kRow, 0x40}, {P - kRow - 1, 0x11}, {P + kRow, 0x60}, {P + kRow - 1, 0x20}},
                 {{P, 0x50}, {P + 1, 0x18}}},
        RuleCase{"mean_rounds_down_and_ff_stays_ff", ByBytes, {P}, {{P - kRow, 0x81}, {P + kRow, 0x80}, {P - kRow - 1, 0xFF}, {P + kRow - 1, 0xFF}},
                 {{P, 0x80}, {P + 1, 0xFF}}},
        RuleCase{"one_zero_neighbour_copies_the_other", ByBytes, {P}, {{P - kRow, 0}, {P + kRow, 0x37}, {P - kRow - 1, 0x37}, {P + kRow - 1, 0}},
                 {{P, 0x37}, {P + 1, 0x37}}},
        RuleCase{"two_zero_neighbours_give_zero", ByBytes, {P}, {{P - kRow, 0}, {P + kRow, 0}, {P - kRow - 1, 0}, {P + kRow - 1, 0}},
                 {{P, 0}, {P + 1, 0}}},
        RuleCase{"first_repairable_sample_takes_the_headers_last_byte", ByBytes, {kHeader + kRow},
                 {{kHeader, 0x20}, {kHeader + 2 * kRow, 0x40}, {kHeader - 1, 0x30}, {kHeader + 2 * kRow - 1, 0x50}},
                 {{kHeader + kRow, 0x30}, {kHeader + kRow + 1, 0x40}}},
        RuleCase{"last_row_copies_the_row_above", ByBytes, {L + 10}, {{L + 10 - kRow, 0x44}, {L + 9 - kRow, 0x22}}, {{L + 10, 0x44}, {L + 11, 0x22}}},
        // Bytes past the file's length are neither neighbours nor changed.
        RuleCase{"last_row_start_takes_the_files_last_byte_below_its_low_byte", ByBytes, {L},
                 {{L - kRow, 0x44}, {L - kRow - 1, 0x30}, {kFiveRows - 1, 0x10}}, {{L, 0x44}, {L + 1, 0x20}}, kRow},
        RuleCase{"row_above_the_last_takes_both_rows", ByBytes, {L - 2}, {{L - 2 - kRow, 0x10}, {L - 2 + kRow, 0x30}, {L - 3 - kRow, 2}, {L - 3 + kRow, 4}},
                 {{L - 2, 0x20}, {L - 1, 0x03}}},
        RuleCase{"first_row_is_never_repaired", ByBytes, {kHeader, kHeader + kRow - 2}, {{kHeader + kRow, 0x60}}, {}},
        RuleCase{"look_alikes_are_no_dropouts", ByBytes, {}, {{P + 1, 0x80}, {P + 2, 0}, {P + 10, 0x80}, {P + 11, 0x01}, {P + 20, 0x7F}, {P + 21, 0}}, {}},
        // Ascending order: the lower sample takes the upper one's new high byte; its low byte comes
        // from the left of the upper sample, never from the upper sample's low byte.
        RuleCase{"bytes_vertical_run_takes_the_repaired_high_byte_above", ByBytes, {P, P + kRow},
                 {{P - kRow, 0x40}, {P - 1, 0x07}, {P + 2 * kRow, 0x61}, {P + 2 * kRow - 1, 0x09}},
                 {{P, 0x60}, {P + 1, 0x01}, {P + kRow, 0x60}, {P + kRow + 1, 0x08}}},
        // One pass: between a first-row dropout and another below, a second-row dropout comes out
        // as 80 00 again when its left neighbours are zero, and passes 80 on to the one below.
        RuleCase{"second_row_between_dropouts_becomes_a_dropout_again", ByBytes, {S - kRow, S, S + kRow},
                 {{S - kRow - 1, 0}, {S + kRow - 1, 0}}, {{S, 0x80}, {S + 1, 0x00}, {S + kRow, 0x40}, {S + kRow + 1, 0x01}}},
        // Colour frames: whole samples of the same colour, two rows away, as physical values (stored
        // + 32768): FFFF and 0002 give 8000, stored 00 00; 1 and 4 give 2, rounded down.
        RuleCase{"bayer_mean_of_physical_values_two_rows_up_and_down", ByValues, {P, P + 10},
                 {{P - 2 * kRow, 0x7F}, {P - 2 * kRow + 1, 0xFF}, {P + 2 * kRow, 0x80}, {P + 2 * kRow + 1, 0x02},
                  {P + 10 - 2 * kRow, 0x80}, {P + 11 - 2 * kRow, 0x01}, {P + 10 + 2 * kRow, 0x80}, {P + 11 + 2 * kRow, 0x04}},
                 {{P, 0}, {P + 1, 0}, {P + 10, 0x80}, {P + 11, 0x02}}, 0, kBayer, {2, 0}},
        // A dropout is no neighbour: below the first row's dropout the sample takes the one below
        // alone; above the last row's, the one above, which then passes its value on down.
        RuleCase{"bayer_neighbour_that_is_a_dropout_is_not_taken", ByValues, {R(0) + 120, P + 20, P + 40, R(4) + 140},
                 {{R(4) + 120, 0x12}, {R(4) + 121, 0x34}, {R(0) + 140, 0x23}, {R(0) + 141, 0x45}},
                 {{P + 20, 0x12}, {P + 21, 0x34}, {P + 40, 0x23}, {P + 41, 0x45}, {R(4) + 140, 0x23}, {R(4) + 141, 0x45}},
                 0, kBayer, {3, 1}},
        RuleCase{"bayer_under_the_byte_rule_takes_the_values_as_ever", ByBytes, {P}, {{P - 2 * kRow, 0x10}, {P + 2 * kRow, 0x30}},
                 {{P, 0x20}, {P + 1, 0x01}}, 0, kBayer, {1, 0}},
        RuleCase{"bayer_rows_0_and_1_are_left", ByValues, {R(0) + 60, R(1) + 60}, {{R(2) + 60, 0x22}, {R(3) + 60, 0x33}}, {}, 0, kBayer, {0, 2}},
        // Nothing below the last two rows, not even bytes past the file; with nothing above either,
        // the dropout is left.
        RuleCase{"bayer_last_two_rows_take_the_sample_above", ByValues, {R(3) + 80, L, R(1) + 84, R(3) + 84},
                 {{R(1) + 80, 0x45}, {R(1) + 81, 0x67}, {R(2), 0x56}, {R(2) + 1, 0x78}},
                 {{R(3) + 80, 0x45}, {R(3) + 81, 0x67}, {L, 0x56}, {L + 1, 0x78}}, 2 * kRow, kBayer, {2, 2}},
        // Planes of three rows: the first plane's last row takes nothing from the second plane, whose
        // first two rows take nothing from the first.
        RuleCase{"bayer_cube_each_plane_on_its_own", ByValues, {P, R(3) + 10, R(4) + 10},
                 {{R(0) + 100, 0x11}, {R(0) + 101, 0x22}, {R(4) + 100, 0x33}, {R(1) + 10, 0x55}, {R(2) + 10, 0x66}},
                 {{P, 0x11}, {P + 1, 0x22}}, 0, kBayerCube, {1, 2}}),
    [](const auto& info) { return info.param.name; });
// clang-format on

TEST(Repair, leaves_short_buffers_alone_and_refuses_odd_lengths_and_lengths_it_cannot_hold)
{
    for (const std::int64_t length :
         std::vector<std::int64_t>{0, 1, 2, 2879, 2880, 2881, 2880 + kRow + 1}) {
        Bytes data(static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < data.size(); i += 2)
            data[i] = 0x80; // every sample a dropout
        const Bytes before = data;
        if (length > kHeader)
            EXPECT_THROW(repairDropouts(data, length), TruncatedImageError) << length;
        else
            repairDropouts(data, length);
        EXPECT_EQ(data, before) << length;
    }
    Bytes data(100, 0x80);
    EXPECT_THROW(repairDropouts(data, 101), std::invalid_argument);
    EXPECT_THROW(repairDropouts(data, -2), std::invalid_argument);
    EXPECT_THROW((void)repairDropouts(data, 100, ImageLayout{2880, 12160, 0, 1}),
                 std::invalid_argument);
}

// A frame as a camera takes it: a sky of about 1800 ADU with a gradient, noise of 25 ADU and
// stars up to near saturation, with isolated dropouts. Each must come out between the samples it
// was rebuilt from, within half a unit of their mean: anything else a stacking program rejects as
// an outlier, or a stretched image shows as a dot.
TEST(Repair, dropouts_of_a_realistic_frame_come_out_between_their_neighbours_at_their_mean)
{
    constexpr std::int64_t kWidth = 640;
    constexpr std::int64_t kHeight = 240;
    std::mt19937 random(1833);
    std::normal_distribution<double> noise(0.0, 25.0);
    std::vector<double> sky(static_cast<std::size_t>(kWidth * kHeight));
    for (std::int64_t y = 0; y < kHeight; ++y)
        for (std::int64_t x = 0; x < kWidth; ++x)
            sky[static_cast<std::size_t>(y * kWidth + x)] = 1800.0 + 1.5 * x + 2.5 * y
                                                            + noise(random);
    for (int star = 0; star < 40; ++star) {
        const double cx = random() % kWidth, cy = random() % kHeight,
                     peak = 2000 + random() % 60000;
        for (std::int64_t y = 0; y < kHeight; ++y)
            for (std::int64_t x = 0; x < kWidth; ++x)
                sky[static_cast<std::size_t>(y * kWidth + x)] += peak
                                                                 * std::exp(-((x - cx) * (x - cx)
                                                                              + (y - cy) * (y - cy))
                                                                            / 4.0);
    }
    for (const Mosaic mosaic : {Mosaic::None, Mosaic::Bayer}) {
        const std::int64_t d = mosaic == Mosaic::Bayer ? 2 : 1;
        Bytes data(static_cast<std::size_t>(kHeader + 2 * kWidth * kHeight), ' ');
        const auto at = [&](std::int64_t x, std::int64_t y) {
            return kHeader + 2 * (y * kWidth + x);
        };
        const auto value = [&](std::int64_t pos) {
            return (data[pos] << 8 | data[pos + 1]) ^ 0x8000;
        };
        for (std::int64_t i = 0; i < kWidth * kHeight; ++i) {
            const auto stored = static_cast<unsigned>(std::clamp(sky[i], 1.0, 65535.0)) ^ 0x8000u;
            data[kHeader + 2 * i] = static_cast<std::uint8_t>(stored >> 8);
            data[kHeader + 2 * i + 1] = static_cast<std::uint8_t>(stored);
        }
        std::vector<std::int64_t> dropouts;
        for (int i = 0; i < 1500; ++i) {
            const std::int64_t x = random() % kWidth, y = d + random() % (kHeight - 2 * d);
            if (value(at(x, y - d)) != 0 && value(at(x, y + d)) != 0) {
                data[at(x, y)] = 0x80, data[at(x, y) + 1] = 0;
                dropouts.push_back(at(x, y));
            }
        }
        (void)repairDropouts(data, static_cast<std::int64_t>(data.size()),
                             ImageLayout{kHeader, 2 * kWidth, kHeight, 1, mosaic});

        for (const std::int64_t pos : dropouts) {
            const std::int64_t reach = d * 2 * kWidth;
            const unsigned above = value(pos - reach), below = value(pos + reach);
            const unsigned repaired = value(pos);
            EXPECT_TRUE(std::min(above, below) <= repaired && repaired <= std::max(above, below)
                        && std::abs(repaired - (above + below) / 2.0) <= 0.5)
                << above << " over " << below << " gave " << repaired;
        }
    }
}

// Outputs already stored were made with the fixed layout and the byte rule: for a file of the
// camera, whose bytes after the image are zeros or absent, reading its header must give the very
// same bytes, so that --bytewise makes them again.
TEST(Repair, camera_frames_come_out_by_the_byte_rule_as_the_fixed_layout_made_them)
{
    std::mt19937 random(6080);
    for (const std::int64_t padding : std::vector<std::int64_t>{0, 1440, 2880 - 2 * kRow % 2880}) {
        // Background bytes, a quarter of them 0, the "not taken" value; dropouts, some in columns.
        Bytes data(static_cast<std::size_t>(kHeader + 7 * kRow));
        for (auto& value : data)
            value = random() % 4 == 0 ? 0 : static_cast<std::uint8_t>(random());
        for (int i = 0; i < 2000; ++i) {
            const std::size_t pos = kHeader + 2 * (random() % (6 * kRow / 2));
            for (std::size_t below = 0; below <= (i % 3 == 0 ? kRow : 0); below += kRow)
                data[pos + below] = 0x80, data[pos + below + 1] = 0;
        }
        data.resize(data.size() + static_cast<std::size_t>(padding), 0);
        Bytes fixed = data;
        const auto length = static_cast<std::int64_t>(data.size());

        repairDropouts(fixed, length, ByBytes);
        (void)repairDropouts(data, length, ImageLayout{2880, kRow, 7, 1}, ByBytes);

        EXPECT_TRUE(data == fixed) << "padding " << padding;
    }
}

} // namespace
} // namespace tarnis
