#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// A read-only stream over one file with 64-bit positions. The file is opened with sharing
// that denies nothing to other programs; this class never writes.
class FileStream {
  public:
    FileStream();
    ~FileStream();
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    // Opens path read-only; false when it cannot be opened (this stream is then closed),
    // OpenError then says why. Anything but a regular file is refused: the viewer reads
    // at any offset, and a pipe cannot be read that way.
    bool Open(const std::string& path);
    const std::string& OpenError() const { return FOpenError; }
    // The same reason without the path, in a few words ("cannot be read: ...").
    const std::string& OpenReason() const { return FOpenReason; }
    // Opens standard input, to be read once from its start, forward only: a read before
    // the bytes already passed fails, except within the first kReplayBytes, which are kept
    // so that the stream can be checked before it is walked. Size() is kUnknownSize until a
    // read has met the end. Holes are not known.
    bool OpenStandardInput();
    bool IsPipe() const { return FPipe != nullptr; }
    static constexpr std::int64_t kUnknownSize = INT64_MAX;
    static constexpr std::int32_t kReplayBytes = 2 << 20;
    void Close();
    bool IsOpen() const;

    // Size in bytes at the time of the call. Throws std::system_error on an OS failure.
    std::int64_t Size() const;
    std::int64_t Position() const { return FPosition; }
    // Sets the position for the next read; any non-negative offset, also past the end.
    void Seek(std::int64_t position);
    // Reads up to count bytes at the position and advances it by the bytes read. Returns
    // the count read: 0 at or past the end. Throws std::system_error on an OS failure, and
    // std::logic_error when the stream is closed or count is negative.
    std::int32_t Read(void* buffer, std::int32_t count);
    // The same at position, which stays as it was: threads may read one file at once. Not
    // of standard input.
    std::int32_t ReadAt(std::int64_t position, void* buffer, std::int32_t count) const;

    // Holes of a sparse file read as zeros, and no start code can begin in one; searches
    // pass over them unread. The first offset at or after from that the file system holds
    // data for (from itself where it does not tell), or Size() when no data follows.
    std::int64_t NextDataOffset(std::int64_t from) const;
    // The end of the data that lies before position: position when the byte before it is
    // data (or the file system does not tell), the end of the last data before the hole it
    // falls in otherwise, 0 when only a hole lies before it.
    std::int64_t DataEndBefore(std::int64_t position) const;

  private:
#ifdef _WIN32
    void* FHandle = nullptr;
    // Only a sparse file has holes: the file system is asked about them only then, which
    // spares a call into the system with every block read.
    bool FSparse = false;
#else
    int FFd = -1;
#endif
    // An empty systemReason: the path names something other than a regular file.
    void Refuse(const std::string& path, const std::string& systemReason);

    // Standard input: what has been taken from it, and its first bytes kept.
    struct TPipe;
    std::unique_ptr<TPipe> FPipe;
    // Reads at the position from standard input; the count read.
    std::int32_t ReadPipe(char* out, std::int32_t count);
    // Up to count bytes straight from the handle; fewer only at the end.
    std::int32_t ReadRaw(char* out, std::int32_t count);
    // Counts bytes taken from standard input, keeping the first of them.
    void Keep(const char* data, std::int32_t count);
    std::int64_t PipeSize() const;

    std::int64_t FPosition = 0;
    std::string FOpenError;
    std::string FOpenReason;
};

// A file no longer holds what its size or an earlier read promised: it was cut or
// rewritten while it was read.
class EFileChanged : public std::runtime_error {
  public:
    EFileChanged() : std::runtime_error("the file changed while it was read") {}
};

// Reads up to count bytes at position, but none at or past size (the file's size when the
// reading began); of a file, without moving its position, so that threads may share it. Throws
// EFileChanged when the file returns fewer of those bytes, so that a file cut meanwhile ends the
// reading instead of being read again and again.
std::int32_t ReadWithinSize(FileStream& stream, std::int64_t position, void* buffer,
                            std::int32_t count, std::int64_t size);

// "PATH is not a regular file: ..." for a path that names a pipe, a device or a socket.
std::string NotRegularFileText(const std::string& path);

// True when path names an existing regular file (not a folder).
bool FileExists(const std::string& path);
