#pragma once

#include "bench/images.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace tarnis::bench {

/// Input files in a folder of their own, written once for all benchmarks and removed at exit.
class Inputs {
public:
    /// Twenty full frames of the camera, 48 MB each, as a night's lights.
    static const Inputs& frames()
    {
        static const Inputs inputs(20, kCameraWidth, rowsOfWidth(kCameraWidth));
        return inputs;
    }
    /// Two hundred small frames of 1 MB each, as a night's darks of a small sensor.
    static const Inputs& smallFiles()
    {
        static const Inputs inputs(200, 1024, 512);
        return inputs;
    }

    /// `count` frames `width` samples wide of `rows` rows each, `dropoutShare` of their samples
    /// dropouts, in a new folder in `parent`.
    Inputs(int count, std::int64_t width, std::int64_t rows,
           const std::filesystem::path& parent = std::filesystem::temp_directory_path(),
           double dropoutShare = 0.0001)
    {
        std::string pattern = (parent / "tarnis-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        folder = pattern + "/";
        for (int i = 0; i < count; ++i) {
            const auto frame = skyFrame(dropoutShare, static_cast<std::uint32_t>(i), width, rows);
            names.push_back("frame" + std::to_string(i) + ".fit");
            std::ofstream(folder + names.back(), std::ios::binary)
                .write(reinterpret_cast<const char*>(frame.data()),
                       static_cast<std::streamsize>(frame.size()));
            bytes += frame.size();
        }
    }
    Inputs(const Inputs&) = delete;
    Inputs& operator=(const Inputs&) = delete;
    ~Inputs() { std::filesystem::remove_all(folder); }

    std::string folder; // ends with a separator
    std::vector<std::string> names;
    std::size_t bytes = 0; // of all files together
};

} // namespace tarnis::bench
