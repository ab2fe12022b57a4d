#include "engine/fits_header.h"

#include "common/cause.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;
using test::imageCards;
const auto headerOf = test::fitsHeader;

struct HeaderCase {
    std::string label;
    Bytes header;
    std::optional<ImageLayout> layout; // none: refused with `cause`, having found `found`
    Cause cause = Cause::NotFits;
    std::string found = {};
};

// The cards with the one at `at` replaced, or added after the last.
std::vector<std::string> withCard(std::vector<std::string> cards, std::size_t at,
                                  const std::string& card)
{
    cards.resize(std::max(cards.size(), at + 1));
    cards[at] = card;
    return cards;
}

Bytes withoutEnd(Bytes header)
{
    const auto end = std::search(header.begin(), header.end(), std::begin("END  "),
                                 std::end("END  ") - 1);
    std::fill(end, end + 3, ' ');
    return header;
}

void PrintTo(const HeaderCase& c, std::ostream* out) { *out << c.label; }

class FitsHeader : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(FitsHeader, gives_the_image_layout_or_says_what_it_found_instead)
{
    const HeaderCase& c = GetParam();
    Bytes file = c.header;
    file.resize(file.size() + 12160, 0); // some image data, which the reader must not need

    if (c.layout) {
        EXPECT_EQ(readImageLayout(file), *c.layout);
        return;
    }
    try {
        (void)readImageLayout(file);
        ADD_FAILURE() << "accepted";
    } catch (const FitsHeaderError& error) {
        EXPECT_EQ(error.cause(), c.cause);
        EXPECT_EQ(error.found(), c.found);
    }
}

const std::vector<std::string> kCamera = imageCards({6080, 4000});
const std::vector<std::string> kManyCards = [] {
    std::vector<std::string> cards = imageCards({4144, 2822});
    for (int i = 0; i < 60; ++i)
        cards.push_back("HISTORY capture program card " + std::to_string(i));
    return cards;
}();

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Engine, FitsHeader,
    ::testing::Values(
        HeaderCase{"camera_frame", headerOf(kCamera), ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"header_of_several_records", headerOf(kManyCards), ImageLayout{5760, 8288, 2822, 1}},
        HeaderCase{"cube_of_planes", headerOf(imageCards({100, 50, 3, 2})), ImageLayout{2880, 200, 50, 6}},
        HeaderCase{"integers_anywhere_with_comments",
                   headerOf(withCard(kCamera, 3, "NAXIS1  = 4144         / length of data axis 1")),
                   ImageLayout{2880, 8288, 4000, 1}},
        // 35 cards and END fill the first record exactly: the data starts right after it.
        HeaderCase{"end_as_the_last_card_of_its_record", headerOf(withCard(kCamera, 34, "COMMENT last card before END")),
                   ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"not_fits_at_all", Bytes(3000, 0x89), std::nullopt, Cause::NotFits, "89 89 89 89 89 89 89 89"},
        HeaderCase{"simple_false", headerOf(withCard(kCamera, 0, "SIMPLE  =                    F")), std::nullopt,
                   Cause::NotFits, "SIMPLE  =                    F"},
        HeaderCase{"no_end_card", withoutEnd(headerOf(kCamera)), std::nullopt, Cause::NoEndCard, "15040"},
        HeaderCase{"float_image", headerOf(withCard(kCamera, 1, "BITPIX  =                  -32")), std::nullopt,
                   Cause::NotSixteenBit, "BITPIX = -32"},
        HeaderCase{"thirty_two_bit_integers", headerOf(withCard(kCamera, 1, "BITPIX  =                   32")), std::nullopt,
                   Cause::NotSixteenBit, "BITPIX = 32"},
        HeaderCase{"sixty_four_bit_integers", headerOf(withCard(kCamera, 1, "BITPIX  =                   64")), std::nullopt,
                   Cause::NotSixteenBit, "BITPIX = 64"},
        HeaderCase{"bytes", headerOf(withCard(kCamera, 1, "BITPIX  =                    8")), std::nullopt, Cause::NotSixteenBit,
                   "BITPIX = 8"},
        HeaderCase{"unsigned_samples_stated_as_reals",
                   headerOf(withCard(withCard(kCamera, 5, "BZERO   =             3.2768D4"), 6, "BSCALE  =                  1.0 / none")),
                   ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"values_followed_directly_by_their_comments",
                   headerOf(withCard(withCard(withCard(kCamera, 5, "BZERO   = 32768/ offset"), 6, "BSCALE  = 1/ scale"), 7, "BLANK   = -32768/ dropouts")),
                   ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"signed_samples", headerOf(withCard(kCamera, 5, "BZERO   =                    0 / signed")), std::nullopt,
                   Cause::NotUnsignedSamples, "BZERO = 0"},
        HeaderCase{"scaled_samples", headerOf(withCard(kCamera, 6, "BSCALE  =                  2.5")), std::nullopt,
                   Cause::NotUnsignedSamples, "BSCALE = 2.5"},
        HeaderCase{"signed_samples_whose_0x8000_marks_blanks", headerOf(withCard(kCamera, 5, "BLANK   =               -32768")),
                   std::nullopt, Cause::BlankSamples, "BLANK = -32768"},
        // The empty primary header of a tile-compressed file, before the extension that holds the image.
        HeaderCase{"tile_compressed_image", headerOf(withCard(imageCards({}), 1, "BITPIX  =                    8")), std::nullopt,
                   Cause::NoImageRows, "NAXIS = 0"},
        HeaderCase{"one_axis_has_no_rows", headerOf(imageCards({6080})), std::nullopt, Cause::NoImageRows, "NAXIS = 1"},
        HeaderCase{"missing_axis", headerOf(withCard(kCamera, 2, "NAXIS   =                    3")), std::nullopt,
                   Cause::MissingKeyword, "NAXIS3"},
        HeaderCase{"axis_length_not_an_integer", headerOf(withCard(kCamera, 4, "NAXIS2  = 'many'")), std::nullopt,
                   Cause::MissingKeyword, "NAXIS2"},
        HeaderCase{"axis_length_zero", headerOf(imageCards({6080, 0})), std::nullopt, Cause::BadAxisLength,
                   "NAXIS2 = 0"},
        // A 2x2 colour mosaic, in any case and spacing; a white pixel, a 6x6 pattern or none is another.
        HeaderCase{"colour_frame", headerOf(withCard(kCamera, 5, "BAYERPAT= 'RGGB    '           / Bayer color pattern")),
                   ImageLayout{2880, 12160, 4000, 1, Mosaic::Bayer}},
        HeaderCase{"bayer_pattern_in_any_case", headerOf(withCard(kCamera, 5, "BAYERPAT= ' g r b g'")), ImageLayout{2880, 12160, 4000, 1, Mosaic::Bayer}},
        HeaderCase{"empty_bayer_pattern", headerOf(withCard(kCamera, 5, "BAYERPAT= ''")), ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"rgbw_pattern", headerOf(withCard(kCamera, 5, "BAYERPAT= 'RGBW'")), ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"cygm_pattern_of_a_complementary_colour_camera", headerOf(withCard(kCamera, 5, "BAYERPAT= 'CYGM'")), ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"six_by_six_pattern", headerOf(withCard(kCamera, 5, "BAYERPAT= 'GGRGGBGGBGGRBRGRBGGGBGGRGGRGGBRBGBRG'")),
                   ImageLayout{2880, 12160, 4000, 1}},
        HeaderCase{"bytes_beyond_64_bits", headerOf(imageCards({3037000500, 3037000500})), std::nullopt,
                   Cause::ImageTooLarge, "3037000500 x 3037000500"}),
    [](const auto& info) { return info.param.label; });
// clang-format on

} // namespace
} // namespace tarnis
