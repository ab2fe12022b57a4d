// Feeds any bytes at all to the reading of a FITS header, as if a file held them. The reader must
// refuse them with FitsHeaderError or give a layout that starts inside the file on a record's
// boundary and whose bytes can be counted; the repair must then run on the file with that layout.

#include "engine/fits_header.h"
#include "engine/repair.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fits_header_fuzz: %s\n", what);
    std::abort();
}

void check(bool holds, const char* what)
{
    if (!holds)
        fail(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::uint8_t> file(data, data + size);
    tarnis::ImageLayout layout;
    try {
        layout = tarnis::readImageLayout(file);
    } catch (const tarnis::FitsHeaderError&) {
        return 0;
    }

    const auto length = static_cast<std::int64_t>(size);
    check(layout.dataStart >= 2880 && layout.dataStart % 2880 == 0,
          "the data does not start on a record's boundary");
    check(layout.dataStart - 2880 < length, "the header's END lies beyond the file");
    check(layout.rowBytes > 0 && layout.rowBytes % 2 == 0 && layout.rows > 0 && layout.planes > 0,
          "a layout without whole samples, rows or planes");
    // Every factor is positive now; the test is written without compiler built-ins, since every
    // build with tests compiles this file, MSVC's too.
    constexpr std::int64_t kMost = std::numeric_limits<std::int64_t>::max();
    check(layout.rows <= kMost / layout.rowBytes
              && layout.planes <= kMost / (layout.rowBytes * layout.rows)
              && layout.rowBytes * layout.rows * layout.planes <= kMost - layout.dataStart,
          "the image's bytes cannot be counted");

    // Whatever the header promises, the repair of the file itself stays inside it.
    const std::int64_t even = length & ~std::int64_t{1};
    (void)tarnis::repairDropouts(file, even, layout);
    return 0;
}
