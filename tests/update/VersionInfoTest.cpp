#include "update/VersionInfo.h"
#include "support/TestSupport.h"
#include "update/ExecutablePath.h"
#include "update/NewVerCheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// The version data of a block written to a plain file. Windows finds version data only in
// a resource, so there the program's own walker reads the block from the file; elsewhere
// the file is what the platform reads anyway.
std::unique_ptr<TVersionInfo> InfoOf(const std::string& path) {
#ifdef _WIN32
    return std::make_unique<TVersionInfo>(TVersionBlockBytes{ReadVersionBlock(path)});
#else
    return std::make_unique<TVersionInfo>(path);
#endif
}

TVersionQuad FileVersionOf(const std::string& path) {
    const TFixedFileInfo fixed = InfoOf(path)->FixedFileInfo();
    return {static_cast<std::int32_t>(fixed.dwFileVersionMS >> 16),
            static_cast<std::int32_t>(fixed.dwFileVersionMS & 0xFFFF),
            static_cast<std::int32_t>(fixed.dwFileVersionLS >> 16),
            static_cast<std::int32_t>(fixed.dwFileVersionLS & 0xFFFF)};
}

std::vector<std::uint8_t> Utf16Key(const std::string& key) {
    std::vector<std::uint8_t> bytes;
    for (const char c : key) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

std::vector<std::uint8_t> Block(const TVersionBlockFields& fields) {
    const TVersionBlockImage image = BuildVersionBlock(fields);
    return {image.Bytes.begin(), image.Bytes.begin() + static_cast<std::ptrdiff_t>(image.Size)};
}

constexpr TVersionBlockFields kProgram{2, 0, 7, 63};

TEST(VersionBlock, IsLaidOutAsTheResourceCompilerLaysOutAVersionResource) {
    const auto expected = Concat({
        Hex("A0 00 34 00 00 00"),
        Utf16Key("VS_VERSION_INFO"),
        Hex("00 00"),
        Hex("BD 04 EF FE 00 00 01 00 00 00 02 00 3F 00 07 00 00 00 02 00 3F 00 07 00"
            "3F 00 00 00 00 00 00 00 04 00 04 00 01 00 00 00 00 00 00 00 00 00 00 00"
            "00 00 00 00"),
        Hex("44 00 00 00 01 00"),
        Utf16Key("VarFileInfo"),
        Hex("00 00"),
        Hex("24 00 04 00 00 00"),
        Utf16Key("Translation"),
        Hex("00 00"),
        Hex("09 04 E4 04"),
    });
    EXPECT_EQ(Block(kProgram), expected);
}

TEST(VersionInfo, TheProgramsOwnExecutableCarriesItsVersion) {
    TVersionQuad version;
    ASSERT_TRUE(GetMarvaneFileVersion(ExecutablePath(), version));
    EXPECT_EQ(version, (TVersionQuad{2, 0, 7, 63}));
    const TVersionInfo info(ExecutablePath());
    EXPECT_TRUE(info.Flags().empty());
    EXPECT_EQ(info.TranslationLength(), 4u);
}

TEST(VersionInfo, ReadsTheBlockWhereverItLiesInTheFile) {
    const auto block = Block({1, 2, 3, 4});
    const std::vector<std::uint8_t> junk(1000, 0x5A);
    // A copy of the key with nothing sensible around it, before the real block.
    const auto decoy = Concat({Hex("FF FF 00 00 00 00"), Utf16Key("VS_VERSION_INFO"), junk});
    const std::size_t chunk = 1 << 20;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"at the start", Concat({block, junk})},
        {"after junk", Concat({junk, block, junk})},
        {"after a decoy key", Concat({decoy, block})},
        {"across the reader's chunk boundary",
         Concat({std::vector<std::uint8_t>(chunk - 20, 0), block})},
        {"at the very end", Concat({junk, block})},
    };
    TempDir dir;
    for (const auto& c : cases) {
        EXPECT_EQ(FileVersionOf(dir.Write("f", c.bytes)), (TVersionQuad{1, 2, 3, 4})) << c.name;
    }
}

TEST(VersionInfo, RaisesOnFilesWithoutUsableVersionData) {
    const auto block = Block(kProgram);
    const auto cut = [](std::vector<std::uint8_t> bytes, std::size_t size) {
        bytes.resize(size);
        return bytes;
    };
    auto longer = block;
    longer[0] = longer[1] = 0xFF;
    auto badSignature = block;
    badSignature[40] ^= 0xFF;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::function<void(const std::string&)> expect;
    };
    const auto noVersion = [](const std::string& path) {
        try {
            InfoOf(path);
            ADD_FAILURE() << "no exception";
        } catch (const ENoVersion& e) {
            EXPECT_STREQ(e.what(), "No version information");
        }
    };
    const auto badVersion = [](const char* message) {
        return [message](const std::string& path) {
            try {
                InfoOf(path);
                ADD_FAILURE() << "no exception";
            } catch (const EVersion& e) {
                EXPECT_STREQ(e.what(), message);
            }
        };
    };
    TVersionBlockFields shortFixed = kProgram;
    shortFixed.FixedInfoBytes = 40;
    TVersionBlockFields noFixed = kProgram;
    noFixed.FixedInfoBytes = 0;
    TVersionBlockFields noTranslation = kProgram;
    noTranslation.HasTranslation = false;
    const Case cases[] = {
        {"empty file", {}, noVersion},
        {"text", Hex("48 65 6C 6C 6F 0D 0A"), noVersion},
        {"the key alone", Utf16Key("VS_VERSION_INFO"), noVersion},
        {"block cut short by the end of the file", cut(block, 120), noVersion},
        {"block claiming more than the file holds", longer, noVersion},
        {"fixed part without its signature", badSignature, noVersion},
        {"short fixed part", Block(shortFixed), badVersion("Bad fixed version info size")},
        {"no fixed part", Block(noFixed), badVersion("Error geting fixed version info")},
        {"no translation", Block(noTranslation), badVersion("Bad translation in version info")},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.expect(dir.Write("f", c.bytes));
    }
    SCOPED_TRACE("no such file");
    noVersion((dir.Path() / "missing").string());
}

TEST(VersionInfo, NamesTheBuildFlagsInTheirOrder) {
    using Names = std::vector<std::string>;
    const std::pair<std::uint32_t, Names> cases[] = {
        {0x00, {}},
        {0x01, {"DEBUG"}},
        {0x02, {"PRERELEASE"}},
        {0x04, {"PATCHED"}},
        {0x08, {"PRIVATEBUILD"}},
        {0x10, {}},
        {0x20, {"SPECIALBUILD"}},
        {0x3F, {"DEBUG", "PATCHED", "PRERELEASE", "PRIVATEBUILD", "SPECIALBUILD"}},
    };
    TempDir dir;
    for (const auto& [flags, names] : cases) {
        TVersionBlockFields fields = kProgram;
        fields.FileFlags = flags;
        EXPECT_EQ(InfoOf(dir.Write("f", Block(fields)))->Flags(), names) << flags;
    }
}

TEST(VersionInfo, GetMarvaneFileVersionReportsAFileWithoutVersion) {
    DebugCapture debug;
    TempDir dir;
    TVersionQuad version{9, 9, 9, 9};
    EXPECT_FALSE(GetMarvaneFileVersion(dir.Write("f", Hex("00 01 02")), version));
    EXPECT_EQ(debug.Lines(),
              std::vector<std::string>{"kvo: Error in GetMarvaneFileVersion call..."});
}

TEST(VersionText, TakeRoutinesCutAtTheFirstSeparator) {
    using Take = void (*)(std::string&, std::string&);
    struct Case {
        Take take;
        const char* text;
        const char* piece;
        const char* rest;
    };
    const Case cases[] = {
        {TakeLine, "a\r\nb\r\nc", "a", "b\r\nc"},     {TakeLine, "\r\nb", "", "b"},
        {TakeLine, "a\nb\rc", "a\nb\rc", ""},         {TakeLine, "", "", ""},
        {TakeField, "q;2.0;x;y", "q", "2.0;x;y"},     {TakeField, "no field", "no field", ""},
        {TakeVersionPart, "2.0.7.63", "2", "0.7.63"}, {TakeVersionPart, "..", "", "."},
    };
    for (const auto& c : cases) {
        std::string text = c.text;
        std::string piece = "old";
        c.take(text, piece);
        EXPECT_EQ(piece, c.piece) << c.text;
        EXPECT_EQ(text, c.rest) << c.text;
    }
}

} // namespace
