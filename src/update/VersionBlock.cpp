#include "update/VersionBlock.h"

#include <algorithm>
#include <fstream>

namespace {

// The key of a version block's root in UTF-16 with its terminator; built here rather
// than kept as a constant so that this program's own code holds no second copy of it.
std::string RootKeyPattern() {
    std::string pattern;
    for (const char c : std::string_view("VS_VERSION_INFO")) {
        pattern += c;
        pattern += '\0';
    }
    pattern.append(2, '\0');
    return pattern;
}

std::uint16_t Get16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

std::size_t Align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

// One node of a block: its header, key, value and where its children lie.
struct TNode {
    std::size_t End = 0;
    std::string Key; // characters outside ASCII become '?'
    std::size_t ValueStart = 0;
    std::uint32_t ValueBytes = 0;
    std::size_t ChildrenStart = 0;
};

// Reads the node at start, which must lie within [start, limit).
bool ParseNode(const std::vector<std::uint8_t>& b, std::size_t start, std::size_t limit,
               TNode& node) {
    if (start + 6 > limit) {
        return false;
    }
    const std::uint16_t length = Get16(b, start);
    if (length < 6 || start + length > limit) {
        return false;
    }
    node = TNode{};
    node.End = start + length;
    const std::uint16_t valueLength = Get16(b, start + 2);
    const std::uint16_t type = Get16(b, start + 4);
    std::size_t p = start + 6;
    for (;;) {
        if (p + 2 > node.End) {
            return false;
        }
        const std::uint16_t c = Get16(b, p);
        p += 2;
        if (c == 0) {
            break;
        }
        node.Key += c < 0x80 ? static_cast<char>(c) : '?';
    }
    node.ValueStart = std::min(Align4(p), node.End);
    // A text value counts its length in UTF-16 characters.
    node.ValueBytes = type == 1 ? 2u * valueLength : valueLength;
    if (node.ValueStart + node.ValueBytes > node.End) {
        return false;
    }
    node.ChildrenStart = Align4(node.ValueStart + node.ValueBytes);
    return true;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

// The block that begins at offset in the file, when one that looks whole is there.
std::vector<std::uint8_t> BlockAt(std::ifstream& in, std::uint64_t offset) {
    std::vector<std::uint8_t> block(2);
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in.read(reinterpret_cast<char*>(block.data()), 2)) {
        return {};
    }
    block.resize(Get16(block, 0));
    if (block.size() < 6 || !in.read(reinterpret_cast<char*>(block.data()) + 2,
                                     static_cast<std::streamsize>(block.size() - 2))) {
        return {};
    }
    TNode root;
    if (!ParseNode(block, 0, block.size(), root) || root.Key != "VS_VERSION_INFO") {
        return {};
    }
    // Where a fixed part is present it must carry its signature.
    if (root.ValueBytes >= 4) {
        const std::uint32_t signature = Get16(block, root.ValueStart) |
                                        (std::uint32_t{Get16(block, root.ValueStart + 2)} << 16);
        if (signature != kFixedFileInfoSignature) {
            return {};
        }
    }
    return block;
}

} // namespace

std::vector<std::uint8_t> ReadVersionBlock(const std::string& path) {
    std::ifstream scan(path, std::ios::binary);
    std::ifstream probe(path, std::ios::binary);
    if (!scan || !probe) {
        return {};
    }
    const std::string pattern = RootKeyPattern();
    constexpr std::size_t kChunk = 1 << 20;
    std::string window;         // the unsearched tail of the last chunk, then the next chunk
    std::uint64_t windowAt = 0; // file offset of window[0]
    std::string chunk(kChunk, '\0');
    for (;;) {
        scan.read(chunk.data(), static_cast<std::streamsize>(kChunk));
        const auto got = static_cast<std::size_t>(scan.gcount());
        if (got == 0) {
            return {};
        }
        window.append(chunk, 0, got);
        for (std::size_t hit = window.find(pattern); hit != std::string::npos;
             hit = window.find(pattern, hit + 1)) {
            const std::uint64_t keyAt = windowAt + hit;
            if (keyAt >= 6) {
                auto block = BlockAt(probe, keyAt - 6);
                if (!block.empty()) {
                    return block;
                }
            }
        }
        // Keep what could be the start of a key cut by the chunk's end.
        const std::size_t keep = std::min(window.size(), pattern.size() - 1);
        windowAt += window.size() - keep;
        window.erase(0, window.size() - keep);
    }
}

bool QueryVersionValue(const std::vector<std::uint8_t>& block, std::string_view subBlock,
                       const std::uint8_t*& value, std::uint32_t& length) {
    TNode node;
    if (!ParseNode(block, 0, block.size(), node)) {
        return false;
    }
    while (!subBlock.empty()) {
        const std::size_t nameStart = subBlock.find_first_not_of('\\');
        if (nameStart == std::string_view::npos) {
            break;
        }
        subBlock.remove_prefix(nameStart);
        const std::string_view name = subBlock.substr(0, subBlock.find('\\'));
        subBlock.remove_prefix(name.size());
        TNode child;
        std::size_t at = node.ChildrenStart;
        bool found = false;
        while (!found && at < node.End) {
            if (!ParseNode(block, at, node.End, child)) {
                return false;
            }
            found = SameName(child.Key, name);
            at = Align4(child.End);
        }
        if (!found) {
            return false;
        }
        node = child;
    }
    if (node.ValueBytes == 0) {
        return false;
    }
    value = block.data() + node.ValueStart;
    length = node.ValueBytes;
    return true;
}
