#include "tests/support/files.h"

#include "common/file_names.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tarnis::test {

void writeFile(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> namesIn(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(utf8FromPath(entry.path().filename()));
    return names;
}

Bytes imageWithDropouts(int rows, const std::vector<std::int64_t>& dropouts, std::uint32_t seed,
                        bool bayer)
{
    constexpr std::size_t kRow = 12160;
    std::vector<std::string> cards = imageCards({6080, rows});
    if (bayer)
        cards.push_back("BAYERPAT= 'RGGB'");
    Bytes image = fitsHeader(cards);
    image.resize(image.size() + static_cast<std::size_t>(rows) * kRow);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> high(0x81, 0x8F); // sky background: never a dropout
    std::uniform_int_distribution<int> low(0, 255);
    for (std::size_t pos = 2880; pos + 1 < image.size(); pos += 2) {
        image[pos] = static_cast<std::uint8_t>(high(random));
        image[pos + 1] = static_cast<std::uint8_t>(low(random));
    }
    for (const std::int64_t pos : dropouts) {
        image[static_cast<std::size_t>(pos)] = 0x80;
        image[static_cast<std::size_t>(pos) + 1] = 0x00;
    }
    return image;
}

Bytes floatImage()
{
    std::vector<std::string> cards = imageCards({6080, 3});
    cards[1] = "BITPIX  =                  -32";
    Bytes image = fitsHeader(cards);
    image.resize(image.size() + 4 * 6080 * 3, 0x80);
    return image;
}

} // namespace tarnis::test
