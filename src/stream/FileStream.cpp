#include "stream/FileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include "core/WideText.h"

#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

struct FileStream::TPipe {
    std::int64_t Taken = 0; // bytes taken from the handle
    bool Ended = false;
    std::unique_ptr<char[]> First{new char[kReplayBytes]};
};

FileStream::FileStream() = default;

FileStream::~FileStream() {
    Close();
}

std::int64_t FileStream::PipeSize() const {
    return FPipe->Ended ? FPipe->Taken : kUnknownSize;
}

std::int32_t FileStream::ReadPipe(char* out, std::int32_t count) {
    TPipe& pipe = *FPipe;
    std::int32_t total = 0;
    // The first bytes again, from what was kept of them.
    if (FPosition < pipe.Taken && FPosition < kReplayBytes) {
        total = static_cast<std::int32_t>(std::min<std::int64_t>(
            count, std::min<std::int64_t>(pipe.Taken, kReplayBytes) - FPosition));
        std::memcpy(out, pipe.First.get() + FPosition, static_cast<std::size_t>(total));
    }
    if (total < count && FPosition + total < pipe.Taken) {
        throw std::logic_error("standard input cannot be read backward");
    }
    // Bytes between what was taken and the position are taken and dropped.
    while (total < count && !pipe.Ended && pipe.Taken < FPosition) {
        char skip[65536];
        const auto want =
            static_cast<std::int32_t>(std::min<std::int64_t>(sizeof skip, FPosition - pipe.Taken));
        const std::int32_t got = ReadRaw(skip, want);
        Keep(skip, got);
        pipe.Ended = got < want;
    }
    if (total < count && !pipe.Ended) {
        const std::int32_t want = count - total;
        const std::int32_t got = ReadRaw(out + total, want);
        Keep(out + total, got);
        pipe.Ended = got < want;
        total += got;
    }
    FPosition += total;
    return total;
}

void FileStream::Keep(const char* data, std::int32_t count) {
    TPipe& pipe = *FPipe;
    if (pipe.Taken < kReplayBytes) {
        const auto kept =
            static_cast<std::size_t>(std::min<std::int64_t>(count, kReplayBytes - pipe.Taken));
        std::memcpy(pipe.First.get() + pipe.Taken, data, kept);
    }
    pipe.Taken += count;
}

namespace {
constexpr const char* kNotRegularFile =
    "not a regular file: Quillet needs a file it can read at any offset";
} // namespace

std::string NotRegularFileText(const std::string& path) {
    return path + " is " + kNotRegularFile;
}

void FileStream::Refuse(const std::string& path, const std::string& systemReason) {
    if (systemReason.empty()) {
        FOpenError = NotRegularFileText(path);
        FOpenReason = kNotRegularFile;
    } else {
        FOpenError = "Cannot open " + path + ": " + systemReason;
        FOpenReason = "cannot be read: " + systemReason;
    }
}

#ifdef _WIN32

bool FileStream::Open(const std::string& path) {
    Close();
    FOpenError.clear();
    FOpenReason.clear();
    HANDLE h = CreateFileW(
        Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Refuse(path, std::system_category().message(static_cast<int>(GetLastError())));
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        Refuse(path, {});
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    FSparse = !GetFileInformationByHandle(h, &information) ||
              (information.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0;
    FHandle = h;
    FPosition = 0;
    return true;
}

bool FileStream::OpenStandardInput() {
    Close();
    HANDLE h = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_INPUT_HANDLE), GetCurrentProcess(),
                         &h, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        Refuse("standard input", std::system_category().message(static_cast<int>(GetLastError())));
        return false;
    }
    FHandle = h;
    FPipe = std::make_unique<TPipe>();
    return true;
}

std::int32_t FileStream::ReadRaw(char* out, std::int32_t count) {
    std::int32_t total = 0;
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(FHandle), out + total, static_cast<DWORD>(count - total),
                      &got, nullptr)) {
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) {
                break; // the writer closed its end
            }
            throw std::system_error(static_cast<int>(error), std::system_category());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::int32_t>(got);
    }
    return total;
}

void FileStream::Close() {
    if (FHandle) {
        CloseHandle(static_cast<HANDLE>(FHandle));
        FHandle = nullptr;
    }
    FPipe.reset();
    FPosition = 0;
}

bool FileStream::IsOpen() const {
    return FHandle != nullptr;
}

std::int64_t FileStream::Size() const {
    if (!FHandle) {
        throw std::logic_error("stream is closed");
    }
    if (FPipe) {
        return PipeSize();
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(static_cast<HANDLE>(FHandle), &size)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    }
    return size.QuadPart;
}

std::int32_t FileStream::ReadAt(std::int64_t position, void* buffer, std::int32_t count) const {
    if (!FHandle || FPipe || count < 0 || position < 0) {
        throw std::logic_error("a read at a position of a closed stream or standard input");
    }
    auto* out = static_cast<char*>(buffer);
    std::int32_t total = 0;
    while (total < count) {
        // The offset goes with the read: one call into the system a block.
        OVERLAPPED at{};
        const auto offset = static_cast<std::uint64_t>(position + total);
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(FHandle), out + total, static_cast<DWORD>(count - total),
                      &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::int32_t>(got);
    }
    return total;
}

namespace {

// The allocated ranges of [from, from + length), as many as fit; false when the file
// system cannot tell (a file that is not sparse, another file system).
bool AllocatedRanges(HANDLE file, std::int64_t from, std::int64_t length,
                     FILE_ALLOCATED_RANGE_BUFFER* ranges, DWORD capacity, DWORD& count,
                     bool& more) {
    FILE_ALLOCATED_RANGE_BUFFER query;
    query.FileOffset.QuadPart = from;
    query.Length.QuadPart = length;
    DWORD bytes = 0;
    const BOOL ok = DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query,
                                    ranges, capacity * sizeof *ranges, &bytes, nullptr);
    more = !ok && GetLastError() == ERROR_MORE_DATA;
    if (!ok && !more) {
        return false;
    }
    count = bytes / sizeof *ranges;
    return true;
}

} // namespace

std::int64_t FileStream::NextDataOffset(std::int64_t from) const {
    if (FPipe) {
        return std::min(from, PipeSize());
    }
    const std::int64_t size = Size();
    if (from >= size) {
        return size;
    }
    if (!FSparse) {
        return from;
    }
    FILE_ALLOCATED_RANGE_BUFFER range[1];
    DWORD count = 0;
    bool more = false;
    if (!AllocatedRanges(static_cast<HANDLE>(FHandle), from, size - from, range, 1, count, more)) {
        return from;
    }
    if (count == 0) {
        return size;
    }
    return std::max(from, static_cast<std::int64_t>(range[0].FileOffset.QuadPart));
}

std::int64_t FileStream::DataEndBefore(std::int64_t position) const {
    position = std::min(position, Size());
    if (FPipe) {
        return std::max<std::int64_t>(position, 0);
    }
    if (position <= 0) {
        return 0;
    }
    if (!FSparse) {
        return position;
    }
    // Ever wider spans before position, until one holds data; its last range ends the data.
    for (std::int64_t span = 1 << 20;; span *= 2) {
        const std::int64_t from = std::max<std::int64_t>(position - span, 0);
        std::int64_t at = from;
        std::int64_t end = -1;
        for (;;) {
            FILE_ALLOCATED_RANGE_BUFFER ranges[64];
            DWORD count = 0;
            bool more = false;
            if (!AllocatedRanges(static_cast<HANDLE>(FHandle), at, position - at, ranges, 64, count,
                                 more)) {
                return position;
            }
            if (count > 0) {
                const FILE_ALLOCATED_RANGE_BUFFER& last = ranges[count - 1];
                end = std::min(position, static_cast<std::int64_t>(last.FileOffset.QuadPart +
                                                                   last.Length.QuadPart));
                at = end;
            }
            if (!more || count == 0 || at >= position) {
                break;
            }
        }
        if (end >= 0) {
            return end;
        }
        if (from == 0) {
            return 0;
        }
    }
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

bool FileStream::Open(const std::string& path) {
    Close();
    FOpenError.clear();
    FOpenReason.clear();
    // Without blocking: opening a pipe with no writer would otherwise wait for one.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        Refuse(path, std::strerror(errno));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        const bool special = st.st_mode != 0 && !S_ISDIR(st.st_mode);
        ::close(fd);
        Refuse(path, special ? std::string() : std::string(std::strerror(error)));
        errno = special ? ESPIPE : error;
        return false;
    }
    FFd = fd;
    FPosition = 0;
    return true;
}

bool FileStream::OpenStandardInput() {
    Close();
    const int fd = ::dup(STDIN_FILENO);
    if (fd < 0) {
        Refuse("standard input", std::strerror(errno));
        return false;
    }
    FFd = fd;
    FPipe = std::make_unique<TPipe>();
    return true;
}

std::int32_t FileStream::ReadRaw(char* out, std::int32_t count) {
    std::int32_t total = 0;
    while (total < count) {
        const ssize_t got = ::read(FFd, out + total, static_cast<size_t>(count - total));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::int32_t>(got);
    }
    return total;
}

void FileStream::Close() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
    FPipe.reset();
    FPosition = 0;
}

bool FileStream::IsOpen() const {
    return FFd >= 0;
}

std::int64_t FileStream::Size() const {
    if (FFd < 0) {
        throw std::logic_error("stream is closed");
    }
    if (FPipe) {
        return PipeSize();
    }
    struct stat st {};
    if (::fstat(FFd, &st) != 0) {
        throw std::system_error(errno, std::generic_category());
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int32_t FileStream::ReadAt(std::int64_t position, void* buffer, std::int32_t count) const {
    if (FFd < 0 || FPipe || count < 0 || position < 0) {
        throw std::logic_error("a read at a position of a closed stream or standard input");
    }
    auto* out = static_cast<char*>(buffer);
    std::int32_t total = 0;
    while (total < count) {
        const ssize_t got = ::pread(FFd, out + total, static_cast<size_t>(count - total),
                                    static_cast<off_t>(position + total));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::int32_t>(got);
    }
    return total;
}

std::int64_t FileStream::NextDataOffset(std::int64_t from) const {
    if (FPipe) {
        return std::min(from, PipeSize());
    }
    const std::int64_t size = Size();
    if (from >= size) {
        return size;
    }
    const off_t data = ::lseek(FFd, static_cast<off_t>(from), SEEK_DATA);
    if (data >= 0) {
        return std::min<std::int64_t>(data, size);
    }
    // ENXIO: nothing but a hole from here to the end; anything else: no answer, so read.
    return errno == ENXIO ? size : from;
}

std::int64_t FileStream::DataEndBefore(std::int64_t position) const {
    position = std::min(position, Size());
    if (FPipe) {
        return std::max<std::int64_t>(position, 0);
    }
    if (position <= 0) {
        return 0;
    }
    if (NextDataOffset(position - 1) == position - 1) {
        return position;
    }
    // The byte before position lies in a hole: look ever further back for data, then walk
    // the data and the holes of that span forward to the last data before position.
    for (std::int64_t span = 1 << 20;; span *= 2) {
        const std::int64_t from = std::max<std::int64_t>(position - span, 0);
        std::int64_t data = NextDataOffset(from);
        if (data < position) {
            std::int64_t end = position;
            while (data < position) {
                const off_t hole = ::lseek(FFd, static_cast<off_t>(data), SEEK_HOLE);
                if (hole < 0) {
                    return position;
                }
                end = std::min<std::int64_t>(hole, position);
                if (end >= position) {
                    break;
                }
                data = NextDataOffset(end);
            }
            return end;
        }
        if (from == 0) {
            return 0;
        }
    }
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

#endif

void FileStream::Seek(std::int64_t position) {
    if (position < 0) {
        throw std::invalid_argument("negative stream position");
    }
    FPosition = position;
}

std::int32_t FileStream::Read(void* buffer, std::int32_t count) {
    if (!IsOpen() || count < 0) {
        throw std::logic_error("read on a closed stream or with a negative count");
    }
    if (FPipe) {
        return ReadPipe(static_cast<char*>(buffer), count);
    }
    const std::int32_t total = ReadAt(FPosition, buffer, count);
    FPosition += total;
    return total;
}

std::int32_t ReadWithinSize(FileStream& stream, std::int64_t position, void* buffer,
                            std::int32_t count, std::int64_t size) {
    const auto wanted =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(size - position, 0, count));
    std::int32_t got = 0;
    if (stream.IsPipe()) {
        stream.Seek(position);
        got = stream.Read(buffer, wanted);
    } else {
        got = stream.ReadAt(position, buffer, wanted);
    }
    if (got < wanted) {
        throw EFileChanged();
    }
    return got;
}
