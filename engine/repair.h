#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

namespace tarnis {

/// Thrown by repairDropouts for a buffer that cannot hold whole 16-bit samples after the header:
/// the file was cut short or is not an image of this kind. The buffer is left untouched.
class TruncatedImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Rewrites, in place and in one ascending pass, every dropout sample (the bytes 0x80 0x00 at an
/// even position) from the second image row after the 2880-byte header on, from the bytes of the
/// image rows directly above and below it (12160 bytes away). `fileLength` is the length of the
/// file; `fileData` holds at least that many bytes. Throws TruncatedImageError, before changing
/// anything, for an odd `fileLength` above 2880, and std::invalid_argument for a `fileLength` that
/// is negative or larger than `fileData`.
void repairDropouts(std::span<std::uint8_t> fileData, std::int64_t fileLength);

} // namespace tarnis
