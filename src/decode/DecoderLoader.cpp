#include "decode/DecoderModule.h"
#include "decode/PngWriter.h"

#include "core/DebugOutput.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

// The program's side of the decoder module: found and loaded once, on the first call that
// needs it.

namespace {

// Where the module may lie, the first found wins: where the installed tree puts it beside
// bin/ (QUILLET_DECODER_DIR_FROM_BIN, from the executable's folder), the executable's own
// folder, and where this build made it, for the programs and tests run from the build
// tree.
std::vector<std::filesystem::path> Candidates() {
    std::vector<std::filesystem::path> paths;
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::filesystem::path folder = executable.parent_path();
        paths.push_back(folder / QUILLET_DECODER_DIR_FROM_BIN / QUILLET_DECODER_FILE);
        paths.push_back(folder / QUILLET_DECODER_FILE);
    }
    paths.emplace_back(QUILLET_DECODER_BUILT_AT);
    return paths;
}

// Why the module could not be loaded, once Load has failed.
std::string LoadFailure;

const TDecoderModule* Load() {
    std::string reasons;
    for (const std::filesystem::path& path : Candidates()) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error)) {
            continue;
        }
        // Kept loaded for the rest of the run: decoders made by it may live until the end.
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            reasons += std::string("; ") + (why != nullptr ? why : path.string());
            continue;
        }
        const auto entry =
            reinterpret_cast<const TDecoderModule* (*)()>(dlsym(handle, kDecoderModuleEntry));
        const TDecoderModule* module = entry != nullptr ? entry() : nullptr;
        if (module != nullptr && module->Version == kDecoderModuleVersion) {
            return module;
        }
        reasons += "; " + path.string() + " is not this build's decoder";
    }
    LoadFailure = "the picture decoder could not be loaded" +
                  (reasons.empty() ? std::string(": " QUILLET_DECODER_FILE " not found") : reasons);
    DebugOutput("kvo: " + LoadFailure);
    return nullptr;
}

const TDecoderModule* Module() {
    static const TDecoderModule* const module = Load(); // once, whichever thread asks first
    return module;
}

} // namespace

bool DecoderBuilt() {
    return true;
}

std::unique_ptr<IPictureDecoder> CreatePictureDecoder(int threads, bool macroblocks) {
    const TDecoderModule* module = Module();
    return module != nullptr ? module->Create(threads, macroblocks) : nullptr;
}

std::string NoDecoderText() {
    return Module() != nullptr ? std::string() : LoadFailure;
}

bool PictureToRgb32(const TPicture& picture, int width, int height, TRgbPixels& rgb) {
    const TDecoderModule* module = Module();
    return module != nullptr && module->ToRgb32(picture, width, height, rgb);
}

bool PictureToPng(const TPicture& picture, std::vector<std::uint8_t>& png, std::string& error) {
    const TDecoderModule* module = Module();
    if (module == nullptr) {
        error = LoadFailure;
        return false;
    }
    return module->ToPng(picture, png, error);
}

bool RgbToPng(const TRgbPixels& rgb, std::vector<std::uint8_t>& png, std::string& error) {
    const TDecoderModule* module = Module();
    if (module == nullptr) {
        error = LoadFailure;
        return false;
    }
    return module->RgbToPng(rgb, png, error);
}
