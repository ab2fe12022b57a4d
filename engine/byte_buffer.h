#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>

namespace tarnis {

/// A byte buffer that is sized anew for every file but keeps its memory between files.
///
/// Handing each 48 MB image a fresh allocation would make the kernel map and clear every page of
/// it again, which costs more than reading the file; a grown buffer is reused instead. Its bytes
/// are not cleared on resize: every use overwrites them in full.
class ByteBuffer {
public:
    /// Makes the buffer `size` bytes long; returns false, leaving it empty, when memory runs out.
    [[nodiscard]] bool resize(std::size_t size)
    {
        if (size > capacity_) {
            storage_.reset();
            capacity_ = 0;
            size_ = 0;
            storage_.reset(new (std::nothrow) std::uint8_t[size]);
            if (!storage_)
                return false;
            capacity_ = size;
        }
        size_ = size;
        return true;
    }

    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] std::span<std::uint8_t> bytes() { return {storage_.get(), size_}; }
    [[nodiscard]] std::span<const std::uint8_t> bytes() const { return {storage_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> storage_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace tarnis
