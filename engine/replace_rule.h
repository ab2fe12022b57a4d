#pragma once

// Which existing file an output may take the place of: only this program's own output of the same
// input, proven by its bytes, and never another input of the run nor another input's output. The
// inputs of a run are told apart by what the system resolves their names to, never by how the names
// are spelt.

#include "common/error.h"
#include "common/file_slot.h"
#include "engine/repair.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnis {

/// Closes the slot however the scope that holds it ends: a file left open would make every later
/// use of the slot fail and keep the file locked until the program ends.
class CloseSlotOnExit {
public:
    explicit CloseSlotOnExit(FileSlot& slot) : slot_(slot) {}
    ~CloseSlotOnExit() { slot_.close(); }
    CloseSlotOnExit(const CloseSlotOnExit&) = delete;
    CloseSlotOnExit& operator=(const CloseSlotOnExit&) = delete;

private:
    FileSlot& slot_;
};

/// How a run treats its files. The window's run takes the defaults.
struct RunOptions {
    /// Count the dropouts and look at the outputs' names, but write nothing; what a run would refuse
    /// is reported as such (FileAction::Check).
    bool checkOnly = false;
    /// The folder (ending with a separator) that every output is written into, in place of beside
    /// its input: for a card that is write-protected, or an archive that is read-only. Every rule on
    /// which file an output may replace holds there as beside the input.
    std::optional<std::string> outputFolder;
    /// How dropouts are rebuilt: by their columns' values, unless files made by earlier versions
    /// must be made again byte for byte.
    RepairRule rule = RepairRule::Values;
};

/// Where an input lies and what of it is header: what its outputs are held against.
struct InputPrint {
    std::string path;
    std::int64_t length = 0;
    std::int64_t dataStart = 0; ///< the whole file for one without image rows
};

/// The print of the input open for reading in `slot` (its path `path`): nothing when it is longer
/// than a header record and holds no END card near its start, as no input that this program gives
/// an output does.
[[nodiscard]] std::optional<InputPrint> printOfInput(FileSlot& slot, const std::string& path);

/// Whether the file open for reading in `candidate` is an output of the input of `print`, open for
/// reading in `input`: as long, and equal to it byte for byte everywhere but at the input's dropout
/// samples, which the repair rewrites and an earlier version of this program may have rewritten
/// otherwise. Both files are compared whole, a stretch at a time; what was read of the input is
/// then confirmed unchanged with the rest of its reads.
[[nodiscard]] bool isOutputOf(FileSlot& candidate, FileSlot& input, const InputPrint& print);

/// Whether the file at `existingPath` is this program's own output of the input at `inputPath`, as
/// isOutputOf() proves it: a frame whose output already exists may be passed over. Fails with an
/// Error where either file cannot be read.
[[nodiscard]] bool isOwnOutput(const std::string& inputPath, const std::string& existingPath);

/// What a run does with an input it does not repair itself, and what it tells the user instead.
enum class PassedOver {
    No,
    NamedAgain,     ///< the same file as an earlier input of the run, however spelt
    RenewedByInput, ///< an earlier output of another input of the run, which renews it
    RenewedHere,    ///< an earlier output of a file beside it that is no input: renewed from it
    InputNotThere,  ///< under the output's name of an input of the run that does not exist
};

/// An input passed over, and the file its note names (as the user gave it, or found beside it).
struct PassedOverNote {
    PassedOver kind = PassedOver::No;
    std::string other;
};

/// Where an input passed over is renewed from: a file of its folder that is no input of the run.
/// `index` stands for the renewal wherever an input's index does (past every input's).
struct Renewal {
    std::string folder;
    std::string name;
    std::size_t index = 0;
};

/// The inputs of one run, looked at together before the first is repaired, so that no output of the
/// run takes the place of another input, nor of the output of another input of the run, ignoring
/// letter case as FAT, exFAT and NTFS do (in LRGB imaging the red channel of "M31.fit" is often
/// called "M31_R.fit", the very name of M31.fit's output; "dark_0001" and "dark_0002" both give
/// "dark__R.fit"). An input that is this program's earlier output of another file, as a second run
/// over a whole folder finds them, is passed over and renewed from that file. So is an input named
/// again. Safe to share between threads once made.
class RunFiles {
public:
    /// `inputs`: each input's folder (ending with a separator, or empty for the working folder) and
    /// name, in the run's order. Reads what it needs through `slot`, and leaves it closed. With an
    /// output folder, two inputs of one name from two folders have one output: the second is
    /// refused, and the failures name the inputs by their paths rather than their names.
    RunFiles(const std::vector<std::pair<std::string, std::string>>& inputs, FileSlot& slot,
             RunOptions options = {});
    ~RunFiles();
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;

    /// Whether input `index` is passed over.
    [[nodiscard]] bool passedOver(std::size_t index) const;
    /// Why input `index` is passed over, for the note that says so (PassedOver::No where it is not).
    [[nodiscard]] PassedOverNote note(std::size_t index) const;
    /// The file that renews input `index`, where the run is to repair it in the input's place.
    [[nodiscard]] std::optional<Renewal> renewal(std::size_t index) const;
    /// Fails with an Error naming `outputPath`, the output of input `index` (`name`; an index past
    /// the inputs is none of them), when it names another input that is not passed over
    /// (OutputIsSelected) or the output of an earlier input (OutputOfAnotherInput).
    void checkOutputName(std::size_t index, const std::string& name, const std::string& outputPath,
                         FileAction action) const;
    /// Fails with an Error naming `outputPath` when the file `existing` there is one that the run
    /// wrote as the output of another input (OutputOfAnotherInput).
    void checkNotWrittenForAnother(std::size_t index, const FileIdentity& existing,
                                   const std::string& outputPath, FileAction action) const;
    /// Notes that the run wrote the file `written` as the output of input `index`.
    void wrote(std::size_t index, const FileIdentity& written);
    [[nodiscard]] const RunOptions& options() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

/// What is under the output's name `outputPath` of input `index` (`name`), looked at through
/// `slot` and held against the input of `print`, open for reading in `input`: nothing, or an
/// earlier output of it, which the write may replace. Anything else fails, as an Error naming the
/// file, and so does a file that the run wrote for another input. Leaves `slot` closed.
[[nodiscard]] std::optional<FileStamp> replaceableOutput(const std::string& outputPath,
                                                         FileSlot& input, const InputPrint& print,
                                                         const std::string& name, std::size_t index,
                                                         const RunFiles& files, FileSlot& slot,
                                                         FileAction action);

/// Where the primary header of the file open in `slot` ends: after the record that holds the END
/// card, looked for in its first `most` bytes; nothing where they hold none.
[[nodiscard]] std::optional<std::int64_t> headerEndOfOpenFile(FileSlot& slot, std::int64_t most);

} // namespace tarnis
