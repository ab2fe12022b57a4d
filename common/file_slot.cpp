// File slot 1: its protocol, the same on every platform, over the file system calls of
// file_system.h, which each platform has a half of.
#include "common/file_slot.h"

#include "common/cause.h"
#include "common/file_system.h"
#include "common/file_names.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string_view>
#include <thread>
#include <vector>

namespace tarnis {

using detail::Copied;
using detail::FileInfo;
using detail::FileKind;
using detail::Named;
using detail::Subject;
using detail::SystemFile;

namespace {

// Temporary files are hidden, short and fixed in form: ".tarnis-" then 16 hexadecimal digits then
// ".tmp". Short, so that one fits wherever the output's name fits; fixed, so that a later write
// can tell one left behind by a killed process from anything of the user's.
constexpr std::string_view kTemporaryPrefix = ".tarnis-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;

// A temporary file whose writer is gone is removed only once it has not been written for this
// long, so that a file another process has only just created, and not yet locked, is never taken
// for an abandoned one.
constexpr int kAbandonedAfterSeconds = 10;

// Pieces in which what was read is held against the file again.
constexpr std::size_t kPieceBytes = std::size_t{1} << 20;

std::string newTemporaryName()
{
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(generator()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

bool isTemporaryName(std::string_view name)
{
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size()
        || !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    for (const char c : name.substr(kTemporaryPrefix.size(), kTemporaryDigits)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// Bytes read where no lease watches the file, held in a few bits: changing any one 8-byte word of
// them changes the digest, since each step is one-to-one in the word and in the digest so far.
std::uint64_t digestOf(std::span<const std::uint8_t> bytes)
{
    std::uint64_t digest = 0x9E3779B97F4A7C15u ^ bytes.size();
    std::size_t at = 0;
    for (; at + 8 <= bytes.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + at, 8);
        digest = (digest ^ word) * 0x100000001B3u;
    }
    for (; at < bytes.size(); ++at)
        digest = (digest ^ bytes[at]) * 0x100000001B3u;
    return digest;
}

[[noreturn]] void fail(const Subject& who, Cause cause)
{
    throw Error(who.action, who.path, cause);
}

void requireRegular(const FileInfo& info, const Subject& who)
{
    if (info.kind == FileKind::Folder)
        fail(who, who.action == FileAction::Write ? Cause::FolderInTheWay : Cause::IsFolder);
    if (info.kind != FileKind::Regular)
        fail(who, Cause::NotRegularFile);
}

// A rename needs only the folder's permission; the file's own says whether its user wants it kept:
// a file that nobody may write stays, for root too, and whoever could not open it for writing may
// not have it replaced either.
void requireWritable(const std::string& path, const FileInfo& existing, const Subject& who)
{
    if (existing.readOnly)
        fail(who, Cause::WriteProtected);
    detail::checkMayReplace(path, who);
}

// Removes the temporary files in the folder that a killed process left behind. A running writer
// holds its file open and locked from the moment it creates it until the file has its final name.
void removeAbandonedTemporaries(const detail::Folder& folder)
{
    for (const std::string& name : detail::namesIn(folder)) {
        if (isTemporaryName(name))
            detail::removeIfAbandoned(folder, name, kAbandonedAfterSeconds);
    }
}

// A virus scanner or the search indexer often opens a file for a moment just after it was
// written, and the move then fails as if another program held it; such a hold passes within a
// moment, so the move is tried for half a second before it counts as failed.
constexpr int kMoveAttempts = 10;
constexpr auto kMoveInterval = std::chrono::milliseconds(50);

struct ReadPiece {
    std::int64_t offset;
    std::size_t length;
    std::uint64_t digest;
};

} // namespace

struct FileSlot::State {
    enum class Mode { Closed, Reading, Writing };

    TemporaryFiles temporaryFiles = TemporaryFiles::UnnamedWherePossible;
    ChangeWatch changeWatch = ChangeWatch::WherePossible;
    Mode mode = Mode::Closed;
    std::string path; // the name the user knows, as shown in errors: the file read, or the output

    // The file open for reading, or the source of a write's copy until the copy is confirmed.
    SystemFile file;
    std::string sourcePath;
    FileInfo opened; // as it was when it was opened
    bool watched = false;
    std::vector<ReadPiece> piecesRead; // where nothing watches the file: what to hold against it

    // A write.
    detail::Folder folder;
    detail::Temporary temporary;
    std::optional<FileStamp> replacing;     // what the write may replace; nothing: no file at all
    std::uint32_t temporaryPermissions = 0; // as the temporary file was created with
    bool copyUnconfirmed = false;
    // A clone is read from its source while the lease shows that nobody has opened the source for
    // writing since before the clone: the same bytes, from the page cache where the source's are,
    // while the clone's would come from the disk. Not past bytes written since.
    bool sourceReadable = false;
    std::int64_t writtenEnd = 0;
    Copied copied = Copied::Whole;
    std::int64_t finished = 0; // the new file's bytes before this are final
    bool synced = false;       // the new file is durable
    bool named = false;        // and under its name
    FileIdentity written;      // the new file's, once durable
    std::optional<std::string>
        cleanedFolder; // where abandoned temporary files were last looked for

    [[nodiscard]] Subject reading() const
    {
        return {FileAction::Read, mode == Mode::Writing ? sourcePath : path};
    }
    [[nodiscard]] Subject writing() const { return {FileAction::Write, path}; }
    [[nodiscard]] Subject current() const { return mode == Mode::Writing ? writing() : reading(); }

    void requireMode(Mode wanted) const
    {
        if (mode != wanted || (wanted == Mode::Writing && copyUnconfirmed))
            fail(current(), Cause::SlotBusy);
    }

    detail::Temporary createTemporary(std::uint32_t permissions, const Subject& who) const
    {
        if (temporaryFiles == TemporaryFiles::UnnamedWherePossible) {
            if (auto unnamed = detail::createUnnamed(folder, permissions, who))
                return std::move(*unnamed);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            if (auto named = detail::createNamed(folder, newTemporaryName(), permissions, who))
                return std::move(*named);
        }
        fail(who, Cause::InUse); // another program keeps taking the names
    }

    // Puts the complete temporary file in place under the output's name, over the file expected
    // there and nothing else.
    Named putInPlace(const Subject& who)
    {
        if (temporary.name.empty() && !replacing) {
            // A new output gets its name in one step, with no other name ever seen, and never over
            // a file that appeared meanwhile.
            return detail::nameUnnamed(folder, temporary, folder.outputName, who);
        }
        // An existing file can only be replaced by a rename, so the new one needs a name first.
        while (temporary.name.empty()) {
            std::string name = newTemporaryName();
            if (detail::nameUnnamed(folder, temporary, name, who) == Named::Done) {
                temporary.name = std::move(name);
                temporary.vanishes = false;
            }
        }
        return detail::moveTo(folder, temporary, folder.outputName, replacing.has_value(), who);
    }

    // Holds the copy against its source, piece by piece, from the page cache where the copy left
    // both; or what was read against the file read again.
    void compareAgain(const Subject& who) const
    {
        std::vector<std::uint8_t> again(kPieceBytes);
        if (mode == Mode::Reading) {
            for (const ReadPiece& piece : piecesRead) {
                const std::span<std::uint8_t> bytes(again.data(), piece.length);
                if (detail::readAt(file, piece.offset, bytes, who) != bytes.size()
                    || digestOf(bytes) != piece.digest)
                    fail(who, Cause::ChangedWhileReading);
            }
            return;
        }
        std::vector<std::uint8_t> copy(kPieceBytes);
        for (std::int64_t offset = 0; offset < opened.stamp.length;
             offset += static_cast<std::int64_t>(kPieceBytes)) {
            const auto size = static_cast<std::size_t>(
                std::min<std::int64_t>(opened.stamp.length - offset, kPieceBytes));
            const std::span<std::uint8_t> source(again.data(), size);
            const std::span<std::uint8_t> copied(copy.data(), size);
            if (detail::readAt(file, offset, source, who) != size
                || detail::readAt(temporary.file, offset, copied, writing()) != size
                || !std::equal(source.begin(), source.end(), copied.begin()))
                fail(who, Cause::ChangedWhileReading);
        }
    }
};

std::int64_t fileLengthByName(const std::string& path)
{
    const Subject who{FileAction::Read, path};
    const std::optional<FileInfo> info = detail::lookAt(path, who);
    if (!info)
        fail(who, Cause::NotFound);
    requireRegular(*info, who);
    return info->stamp.length;
}

std::optional<FileIdentity> fileIdentityByName(const std::string& path)
{
    try {
        if (const std::optional<FileInfo> info = detail::lookAt(path, {FileAction::Read, path});
            info && info->kind != FileKind::Other)
            return info->stamp.identity;
    } catch (const Error&) {
    }
    return std::nullopt;
}

FileSlot::FileSlot(TemporaryFiles temporaryFiles, ChangeWatch changeWatch)
    : state_(std::make_unique<State>())
{
    state_->temporaryFiles = temporaryFiles;
    state_->changeWatch = changeWatch;
    detail::prepareProcess();
}

FileSlot::~FileSlot() { close(); }

bool FileSlot::isOpen() const { return state_->mode != State::Mode::Closed; }

void FileSlot::openForReading(const std::string& path)
{
    State& s = *state_;
    const Subject who{FileAction::Read, path};
    if (isOpen())
        fail(who, Cause::SlotBusy);
    detail::OpenedFile opened = detail::openToRead(
        path, s.changeWatch == ChangeWatch::WherePossible, who);
    requireRegular(opened.info, who);
    s.file = std::move(opened.file);
    s.opened = opened.info;
    s.watched = opened.watched;
    s.piecesRead.clear();
    s.mode = State::Mode::Reading;
    s.path = path;
}

std::int64_t FileSlot::length() const
{
    state_->requireMode(State::Mode::Reading);
    return state_->opened.stamp.length;
}

bool FileSlot::watched() const
{
    state_->requireMode(State::Mode::Reading);
    return state_->watched;
}

FileStamp FileSlot::stamp() const
{
    state_->requireMode(State::Mode::Reading);
    return state_->opened.stamp;
}

void FileSlot::readAt(std::int64_t offset, std::span<std::uint8_t> buffer)
{
    State& s = *state_;
    if (s.mode == State::Mode::Writing) {
        s.requireMode(State::Mode::Writing);
        // A clone dropped for a file written whole leaves nothing to read but its source.
        const bool nothingCopied = s.copied == Copied::Nothing;
        if (s.sourceReadable && (offset >= s.writtenEnd || nothingCopied)
            && !detail::writerCameBy(s.file)
            && detail::readAt(s.file, offset, buffer, s.reading()) == buffer.size()
            && !detail::writerCameBy(s.file))
            return;
        s.sourceReadable = false;
        s.file.reset();
        // Where the clone was dropped there is no snapshot to fall back on: the read gives up.
        if (nothingCopied)
            fail(s.reading(), Cause::ChangedWhileReading);
        // A writer came: the clone, a snapshot of the source as it was before, is read from now on.
        if (detail::readAt(s.temporary.file, offset, buffer, s.writing()) != buffer.size())
            fail(s.writing(), Cause::ChangedWhileReading);
        return;
    }
    s.requireMode(State::Mode::Reading);
    const Subject who = s.reading();
    // A writer waits for the lease until the read gives up, so it gives up as soon as one comes.
    if ((s.watched && detail::writerCameBy(s.file))
        || detail::readAt(s.file, offset, buffer, who) != buffer.size())
        fail(who, Cause::ChangedWhileReading);
    for (std::size_t done = 0; !s.watched && done < buffer.size(); done += kPieceBytes) {
        const std::span<const std::uint8_t> piece = std::span(buffer).subspan(
            done, std::min(kPieceBytes, buffer.size() - done));
        s.piecesRead.push_back(
            {offset + static_cast<std::int64_t>(done), piece.size(), digestOf(piece)});
    }
}

void FileSlot::confirmUnchanged()
{
    State& s = *state_;
    if (s.mode == State::Mode::Closed || (s.mode == State::Mode::Writing && !s.copyUnconfirmed))
        fail(s.current(), Cause::SlotBusy);
    const Subject who = s.reading();
    // Where no lease watches, a writer that keeps the file's times, as one through a shared memory
    // mapping does, or a file system whose times move in whole seconds, still shows in the bytes.
    if (!s.watched)
        s.compareAgain(who);
    const FileInfo now = detail::statusOf(s.file, who);
    if (!(now.stamp == s.opened.stamp) || (s.watched && detail::writerCameBy(s.file)))
        fail(who, Cause::ChangedWhileReading);
    if (s.mode == State::Mode::Writing) {
        s.copyUnconfirmed = false;
        s.sourceReadable = s.copied == Copied::Shared && s.watched;
        if (!s.sourceReadable)
            s.file.reset(); // and with it the lease: the copy is what is repaired
    }
}

void FileSlot::openForWriting(const std::string& path, const std::optional<FileStamp>& replacing,
                              std::uint32_t permissions)
{
    State& s = *state_;
    const Subject who{FileAction::Write, path};
    if (isOpen())
        fail(who, Cause::SlotBusy);
    const std::optional<FileInfo> existing = detail::lookAt(path, who);
    if (existing)
        requireRegular(*existing, who);
    if (existing.has_value() != replacing.has_value()
        || (existing && !(existing->stamp == *replacing)))
        fail(who, Cause::OutputChanged);
    if (existing)
        requireWritable(path, *existing, who);

    detail::Folder folder = detail::openFolder(path, who);
    // A bare name's folder is the working folder, spelt as an empty text: looked at too.
    if (folder.path != s.cleanedFolder) {
        removeAbandonedTemporaries(folder);
        s.cleanedFolder = folder.path;
    }
    s.mode = State::Mode::Writing;
    s.path = path;
    s.folder = std::move(folder);
    s.replacing = replacing;
    s.copyUnconfirmed = false;
    s.sourceReadable = false;
    s.writtenEnd = 0;
    s.finished = 0;
    s.synced = s.named = false;
    try {
        s.temporaryPermissions = existing ? 0666 : permissions & 0777;
        s.temporary = s.createTemporary(s.temporaryPermissions, s.writing());
        // A replaced output keeps the permissions it had.
        if (existing)
            detail::setPermissions(s.temporary.file, existing->stamp.permissions);
    } catch (...) {
        close();
        throw;
    }
}

void FileSlot::copyFrom(const std::string& source, const FileStamp& expected)
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    if (s.file.valid())
        fail(s.writing(), Cause::SlotBusy);
    s.sourcePath = source;
    const Subject who = s.reading();
    // Watched from before it is looked at, so that whatever a writer does after the look is told.
    detail::OpenedFile opened = detail::openToRead(
        source, s.changeWatch == ChangeWatch::WherePossible, who);
    if (!(opened.info.stamp == expected))
        fail(who, Cause::ChangedWhileReading);
    s.file = std::move(opened.file);
    s.opened = opened.info;
    s.watched = opened.watched;
    s.copyUnconfirmed = true;
    s.copied = detail::copyFile(s.file, s.temporary.file, expected.length, s.writing());
    if (s.copied == Copied::Short)
        fail(who, Cause::ChangedWhileReading);
}

FileSlot::CopyMade FileSlot::copyMade() const
{
    state_->requireMode(State::Mode::Writing);
    switch (state_->copied) {
    case Copied::Shared: return CopyMade::Shared;
    case Copied::Nothing: return CopyMade::Nothing;
    case Copied::Whole:
    case Copied::Short: break;
    }
    return CopyMade::Whole;
}

bool FileSlot::dropCopy()
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    if (s.copied != Copied::Shared || !s.sourceReadable || detail::writerCameBy(s.file))
        return false;
    // A new file rather than the clone cut short: nothing of the clone's sharing is left to undo.
    detail::removeTemporary(s.folder, s.temporary);
    s.temporary = s.createTemporary(s.temporaryPermissions, s.writing());
    if (s.replacing)
        detail::setPermissions(s.temporary.file, s.replacing->permissions);
    s.copied = Copied::Nothing;
    s.writtenEnd = 0;
    s.finished = 0;
    return true;
}

void FileSlot::writeAt(std::int64_t offset, std::span<const std::uint8_t> data)
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    if (s.synced)
        fail(s.writing(), Cause::SlotBusy); // what is written after the sync would not be durable
    detail::writeAt(s.temporary.file, offset, data, s.writing());
    s.writtenEnd = std::max(s.writtenEnd, offset + static_cast<std::int64_t>(data.size()));
}

void FileSlot::finishedUpTo(std::int64_t end)
{
    State& s = *state_;
    if (s.mode == State::Mode::Writing && end > s.finished) {
        detail::startWriteBack(s.temporary.file, s.finished, end - s.finished);
        s.finished = end;
    }
}

void FileSlot::finishWriting()
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    s.sourceReadable = false;
    s.file.reset(); // the source, and its lease, are not needed any more
}

void FileSlot::sync()
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    if (s.synced)
        return;
    finishWriting();
    const Subject who = s.writing();
    detail::unhide(s.temporary, who);
    detail::syncFile(s.temporary.file, who);
    s.written = detail::statusOf(s.temporary.file, who).stamp.identity;
    s.synced = true;
}

void FileSlot::name()
{
    State& s = *state_;
    s.requireMode(State::Mode::Writing);
    if (s.named)
        return;
    sync();
    const Subject who = s.writing();
    for (int attempt = 1;; ++attempt) {
        // Between this look and the move, only a program that changes the file in these
        // microseconds goes unseen.
        const std::optional<FileInfo> there = detail::lookAtName(s.folder, s.folder.outputName,
                                                                 who);
        if (there && there->kind == FileKind::Folder)
            fail(who, Cause::FolderInTheWay);
        if (there && !(s.replacing && there->stamp == *s.replacing))
            fail(who, Cause::OutputChanged);
        const Named named = s.putInPlace(who);
        if (named == Named::Done)
            break;
        if (named == Named::Taken)
            fail(who, Cause::OutputChanged);
        if (attempt == kMoveAttempts) {
            // Whatever holds the file under the output's name says why, if anything does.
            if (there)
                requireWritable(s.path, *there, who);
            fail(who, Cause::InUse);
        }
        std::this_thread::sleep_for(kMoveInterval);
    }
    s.temporary.name.clear(); // now the output's own name: close() must not remove it
    s.named = true;
}

FileIdentity FileSlot::commit()
{
    State& s = *state_;
    name();
    const FileIdentity written = s.written;
    detail::syncFolder(s.folder, s.temporary);
    close();
    return written;
}

void FileSlot::close() noexcept
{
    State& s = *state_;
    if (s.mode == State::Mode::Writing)
        detail::removeTemporary(s.folder, s.temporary);
    s.file.reset(); // and with it the lease
    s.temporary = {};
    s.folder = {};
    s.piecesRead.clear();
    s.mode = State::Mode::Closed;
    s.path.clear();
    s.sourcePath.clear();
    s.replacing.reset();
    s.copyUnconfirmed = false;
}

} // namespace tarnis
