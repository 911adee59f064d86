#include "stream/FileStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

FileStream::~FileStream() {
    Close();
}

std::string NotRegularFileText(const std::string& path) {
    return path + " is not a regular file: Quillet needs a file it can read at any offset";
}

#ifdef _WIN32

bool FileStream::Open(const std::string& path) {
    Close();
    FOpenError.clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        FOpenError = "Cannot open " + path + ": " +
                     std::system_category().message(static_cast<int>(GetLastError()));
        return false;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        FOpenError = NotRegularFileText(path);
        return false;
    }
    FHandle = h;
    FPosition = 0;
    return true;
}

void FileStream::Close() {
    if (FHandle) {
        CloseHandle(static_cast<HANDLE>(FHandle));
        FHandle = nullptr;
    }
    FPosition = 0;
}

bool FileStream::IsOpen() const {
    return FHandle != nullptr;
}

// The Windows build reads holes like data.
std::int64_t FileStream::NextData(std::int64_t position) const {
    return position;
}

std::int64_t FileStream::PreviousDataEnd(std::int64_t position) const {
    return position;
}

std::int64_t FileStream::Size() const {
    if (!FHandle) {
        throw std::logic_error("stream is closed");
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(static_cast<HANDLE>(FHandle), &size)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    }
    return size.QuadPart;
}

std::int32_t FileStream::Read(void* buffer, std::int32_t count) {
    if (!FHandle || count < 0) {
        throw std::logic_error("read on a closed stream or with a negative count");
    }
    LARGE_INTEGER to;
    to.QuadPart = FPosition;
    if (!SetFilePointerEx(static_cast<HANDLE>(FHandle), to, nullptr, FILE_BEGIN)) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
    }
    auto* out = static_cast<char*>(buffer);
    std::int32_t total = 0;
    while (total < count) {
        DWORD got = 0;
        if (!ReadFile(static_cast<HANDLE>(FHandle), out + total, static_cast<DWORD>(count - total),
                      &got, nullptr)) {
            throw std::system_error(static_cast<int>(GetLastError()), std::system_category());
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::int32_t>(got);
    }
    FPosition += total;
    return total;
}

bool FileExists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else

bool FileStream::Open(const std::string& path) {
    Close();
    FOpenError.clear();
    // Without blocking: opening a pipe with no writer would otherwise wait for one.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        FOpenError = "Cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        const bool special = st.st_mode != 0 && !S_ISDIR(st.st_mode);
        ::close(fd);
        FOpenError = special ? NotRegularFileText(path)
                             : "Cannot open " + path + ": " + std::strerror(error);
        errno = special ? ESPIPE : error;
        return false;
    }
    FFd = fd;
    FPosition = 0;
    return true;
}

void FileStream::Close() {
    if (FFd >= 0) {
        ::close(FFd);
        FFd = -1;
    }
    FPosition = 0;
}

bool FileStream::IsOpen() const {
    return FFd >= 0;
}

std::int64_t FileStream::Size() const {
    if (FFd < 0) {
        throw std::logic_error("stream is closed");
    }
    struct stat st {};
    if (::fstat(FFd, &st) != 0) {
        throw std::system_error(errno, std::generic_category());
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::int32_t FileStream::Read(void* buffer, std::int32_t count) {
    if (FFd < 0 || count < 0) {
        throw std::logic_error("read on a closed stream or with a negative count");
    }
    auto* out = static_cast<char*>(buffer);
    std::int32_t total = 0;
    while (total < count) {
        ssize_t got = ::pread(FFd, out + total, static_cast<size_t>(count - total),
                              static_cast<off_t>(FPosition + total));
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
    FPosition += total;
    return total;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

// lseek with SEEK_DATA or SEEK_HOLE; -1 when there is no such offset (ENXIO: no data
// after it) or when the system cannot tell.
std::int64_t SeekSparse(int fd, std::int64_t position, int whence, bool& unsupported) {
    const off_t found = ::lseek(fd, static_cast<off_t>(position), whence);
    if (found < 0 && errno != ENXIO) {
        unsupported = true;
    }
    return found;
}

} // namespace

std::int64_t FileStream::NextData(std::int64_t position) const {
    const std::int64_t size = Size();
    if (position >= size) {
        return size;
    }
    bool unsupported = false;
    const std::int64_t data = SeekSparse(FFd, position, SEEK_DATA, unsupported);
    if (unsupported) {
        return position;
    }
    return data < 0 ? size : data;
}

std::int64_t FileStream::PreviousDataEnd(std::int64_t position) const {
    bool unsupported = false;
    // Looks back in steps that double, so that a short hole costs a few calls and the
    // hole of a huge file no more than a few dozen.
    for (std::int64_t step = 1 << 20;; step *= 2) {
        const std::int64_t from = std::max<std::int64_t>(0, position - step);
        std::int64_t data = SeekSparse(FFd, from, SEEK_DATA, unsupported);
        if (unsupported) {
            return position;
        }
        if (data >= 0 && data < position) {
            // The last stretch of data before position: region by region from the first.
            for (;;) {
                const std::int64_t hole = SeekSparse(FFd, data, SEEK_HOLE, unsupported);
                if (unsupported || hole < 0 || hole >= position) {
                    return position;
                }
                const std::int64_t next = SeekSparse(FFd, hole, SEEK_DATA, unsupported);
                if (unsupported) {
                    return position;
                }
                if (next < 0 || next >= position) {
                    return hole;
                }
                data = next;
            }
        }
        if (from == 0) {
            return 0;
        }
    }
}

#endif

void FileStream::Seek(std::int64_t position) {
    if (position < 0) {
        throw std::invalid_argument("negative stream position");
    }
    FPosition = position;
}

std::int32_t ReadWithinSize(FileStream& stream, std::int64_t position, void* buffer,
                            std::int32_t count, std::int64_t size) {
    const auto wanted =
        static_cast<std::int32_t>(std::clamp<std::int64_t>(size - position, 0, count));
    stream.Seek(position);
    const std::int32_t got = stream.Read(buffer, wanted);
    if (got < wanted) {
        throw EFileChanged();
    }
    return got;
}
