#include "support/TestSupport.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include "core/WideText.h"

#include <windows.h>
#include <winioctl.h>
#endif

DebugCapture::DebugCapture() {
    FPrevious = SetDebugSink([this](std::string_view line) { FLines.emplace_back(line); });
}

DebugCapture::~DebugCapture() {
    SetDebugSink(FPrevious);
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate =
            base / ("quillet-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
        if (std::filesystem::create_directory(candidate)) {
            FPath = candidate;
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const auto path = FPath / name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
    return path.string();
}

std::string TestDataPath(const std::string& name) {
    return (std::filesystem::path(QUILLET_TEST_DATA_DIR) / name).string();
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Hex(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    int pending = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            continue;
        }
        if (pending < 0) {
            pending = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(pending * 16 + v));
            pending = -1;
        }
    }
    if (pending >= 0) {
        throw std::invalid_argument("odd number of hex digits");
    }
    return bytes;
}

void ResizeSparse(const std::string& path, std::int64_t size) {
#ifdef _WIN32
    HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), path);
    }
    DWORD returned = 0;
    LARGE_INTEGER end;
    end.QuadPart = size;
    const bool done =
        DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr) &&
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!done) {
        throw std::system_error(static_cast<int>(error), std::system_category(), path);
    }
#else
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
#endif
}

std::vector<std::int64_t> ListedUnitOffsets(const std::string& stream) {
    std::ifstream in(TestDataPath(stream + ".nals"));
    std::vector<std::int64_t> offsets;
    std::string line;
    while (std::getline(in, line)) {
        offsets.push_back(std::stoll(line));
    }
    return offsets;
}
