#pragma once

// Reading the reference decodes in tests/data (NAME.ref, ffmpeg's trace_headers) and
// putting them in the tree's terms. Every difference of naming between ffmpeg and the
// tree is settled here, in one place.

#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace reference {

struct RefElement {
    std::string Name;
    std::int64_t Value = 0;
    std::string Text; // the value as the tree writes it, when it is not the number
    int Bits = 0;
    std::int64_t Position = 0;
};

struct RefStream {
    std::vector<int> NalTypes;                            // by NAL index
    std::map<int, std::vector<RefElement>> ParameterSets; // by NAL index
    std::map<int, std::vector<RefElement>> Slices;        // by NAL index
    std::map<int, std::vector<RefElement>> Seis;          // by NAL index
};

inline RefStream LoadRef(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    RefStream ref;
    std::string line;
    std::vector<RefElement>* block = nullptr;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string first;
        fields >> first;
        if (first == "packet") {
            continue;
        }
        if (first == "nal") {
            int index = 0;
            int type = 0;
            fields >> index >> type;
            if (index != static_cast<int>(ref.NalTypes.size())) {
                throw std::runtime_error("NAL indices out of order in " + path);
            }
            ref.NalTypes.push_back(type);
        } else if (first == "sps" || first == "pps") {
            int index = 0;
            fields >> index;
            block = &ref.ParameterSets[index];
        } else if (first == "slice" || first == "sei") {
            int index = 0;
            fields >> index;
            block = first == "slice" ? &ref.Slices[index] : &ref.Seis[index];
        } else if (first == "end") {
            block = nullptr;
        } else if (block != nullptr) {
            RefElement e;
            e.Name = first;
            fields >> e.Value >> e.Bits >> e.Position;
            block->push_back(e);
        }
    }
    return ref;
}

// ffmpeg names a few elements after the current edition of the standard.
const std::map<std::string, std::string> kRenamed = {
    {"separate_colour_plane_flag", "residual_colour_transform_flag"},
    {"max_num_ref_frames", "num_ref_frames"},
    {"gaps_in_frame_num_allowed_flag", "gaps_in_frame_num_value_allowed_flag"},
    {"max_num_reorder_frames", "num_reorder_frames"},
    {"bottom_field_pic_order_in_frame_present_flag", "pic_order_present_flag"},
    {"num_ref_idx_l0_default_active_minus1", "num_ref_idx_l0_active_minus1"},
    {"num_ref_idx_l1_default_active_minus1", "num_ref_idx_l1_active_minus1"},
};

struct Expected {
    std::vector<RefElement> Elements; // what the tree must show, in order
    std::int64_t ScalingListBits = 0; // bits of scaling_list( ) content, not shown
};

// The reference in our terms: constraint_set4/5_flag and reserved_zero_2bits make our
// reserved_zero_4bits; the scaling list deltas and the trailing bits are not shown.
inline Expected ToTreeTerms(const std::vector<RefElement>& elements) {
    Expected expected;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        RefElement e = elements[i];
        if (e.Name == "rbsp_stop_one_bit" || e.Name == "rbsp_alignment_zero_bit") {
            continue;
        }
        if (e.Name.rfind("delta_scale[", 0) == 0) {
            expected.ScalingListBits += e.Bits;
            continue;
        }
        if (e.Name == "constraint_set4_flag") {
            if (i + 2 >= elements.size() || elements[i + 1].Name != "constraint_set5_flag" ||
                elements[i + 2].Name != "reserved_zero_2bits") {
                throw std::runtime_error("unexpected constraint flags in the reference");
            }
            e.Name = "reserved_zero_4bits";
            e.Value = (e.Value << 3) | (elements[i + 1].Value << 2) | elements[i + 2].Value;
            e.Bits = 4;
            i += 2;
        }
        const auto renamed = kRenamed.find(e.Name);
        if (renamed != kRenamed.end()) {
            e.Name = renamed->second;
        }
        expected.Elements.push_back(e);
    }
    return expected;
}

// Elements written as se(v); every other "(v bits)" line is ue(v).
inline bool IsSignedElement(const std::string& label) {
    static const std::set<std::string> kSigned = {"offset_for_non_ref_pic",
                                                  "offset_for_top_to_bottom_field",
                                                  "pic_init_qp_minus26",
                                                  "pic_init_qs_minus26",
                                                  "chroma_qp_index_offset",
                                                  "second_chroma_qp_index_offset",
                                                  "delta_pic_order_cnt_bottom",
                                                  "slice_qp_delta",
                                                  "slice_qs_delta",
                                                  "slice_alpha_c0_offset_div2",
                                                  "slice_beta_offset_div2"};
    static const std::vector<std::string> kSignedArrays = {
        "offset_for_ref_frame[", "delta_pic_order_cnt[", "luma_weight_l",
        "luma_offset_l",         "chroma_weight_l",      "chroma_offset_l"};
    if (kSigned.count(label) != 0) {
        return true;
    }
    return std::any_of(kSignedArrays.begin(), kSignedArrays.end(), [&](const std::string& p) {
        return label.rfind(p, 0) == 0 && label.find("_flag") == std::string::npos;
    });
}

// Length of the Exp-Golomb code of an unsigned value.
inline int UeCodeLength(std::uint64_t value) {
    int z = 0;
    while (((value + 1) >> (z + 1)) != 0) {
        ++z;
    }
    return 2 * z + 1;
}

// The bits a tree line stands for: its fixed width, or the length of the code that gives
// its value.
inline int ShownBits(const ParsedLine& line) {
    if (line.Annotation != "v bits") {
        return std::stoi(line.Annotation);
    }
    const std::int64_t v = std::stoll(line.Value);
    if (IsSignedElement(line.Label)) {
        return UeCodeLength(static_cast<std::uint64_t>(v > 0 ? 2 * v - 1 : -2 * v));
    }
    return UeCodeLength(static_cast<std::uint64_t>(v));
}

// Element lines of the tree in display order (structure lines left out).
inline std::vector<ParsedLine> ElementLines(const TSyntaxTree& tree) {
    std::vector<ParsedLine> lines;
    tree.Walk([&](const TSyntaxLine& line, int) {
        if (auto parsed = ParseElementLine(line.Text)) {
            lines.push_back(*parsed);
        }
    });
    return lines;
}

// ffmpeg's access units: the size of each packet, in file order.
inline std::vector<std::int64_t> PacketSizes(const std::string& name) {
    std::ifstream in(TestDataPath(name + ".ref"));
    std::vector<std::int64_t> sizes;
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string first;
        std::int64_t index = 0;
        std::int64_t size = 0;
        if (fields >> first >> index >> size && first == "packet") {
            sizes.push_back(size);
        }
    }
    return sizes;
}

// The streams that have a reference decode.
inline std::vector<std::string> StreamNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() == ".ref") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Where a reference position (from the header byte's first bit, emulation-prevention bytes
// removed) lies in the unit as stored, from its start code's first bit: the stored bytes
// that survive the removal of the 03 of each 00 00 03, listed, give the answer by index.
inline std::int64_t StoredPosition(const std::vector<std::uint8_t>& unit, int startCode,
                                   std::int64_t position) {
    std::vector<std::int64_t> kept;
    int zeros = 0;
    for (std::size_t i = 0; i < unit.size(); ++i) {
        if (zeros >= 2 && unit[i] == 3) {
            zeros = 0;
            continue;
        }
        kept.push_back(static_cast<std::int64_t>(i));
        zeros = unit[i] == 0 ? zeros + 1 : 0;
    }
    const auto byte = static_cast<std::size_t>(startCode + position / 8);
    return byte < kept.size() ? 8 * kept[byte] + position % 8 : -1;
}

inline std::string Hex2(std::uint8_t b) {
    const char* digits = "0123456789abcdef";
    return {digits[b >> 4], digits[b & 15]};
}

// Slice headers and SEI messages in the tree's terms: the alignment bits after a header or
// payload are not shown; each 0xFF-extended payloadType and payloadSize is one element;
// the UUID's 16 bytes are one element written as a UUID, the user data one element written
// as text when printable (else its first 32 bytes in hexadecimal); the payloads the tree
// only names keep none of their elements.
inline std::vector<RefElement> ToDeepTreeTerms(const std::vector<RefElement>& elements) {
    static const std::set<std::string> kNotShown = {"rbsp_stop_one_bit", "rbsp_alignment_zero_bit",
                                                    "cabac_alignment_one_bit", "bit_equal_to_one",
                                                    "bit_equal_to_zero"};
    static const std::set<std::int64_t> kDecodedPayloads = {0, 1, 5, 6};
    std::vector<RefElement> out;
    bool payloadShown = true;
    const auto startsWith = [](const std::string& name, const char* prefix) {
        return name.rfind(prefix, 0) == 0;
    };
    // Sums a run of ff_byte ending in the named byte into one element.
    std::size_t i = 0;
    const auto extended = [&](const char* last, const char* name) {
        RefElement sum{name, 0, "", 0, elements[i].Position};
        for (; i < elements.size(); ++i) {
            sum.Value += elements[i].Value;
            sum.Bits += elements[i].Bits;
            if (elements[i].Name == last) {
                break;
            }
        }
        ++i;
        return sum;
    };
    while (i < elements.size()) {
        const RefElement& e = elements[i];
        if (kNotShown.count(e.Name) != 0) {
            ++i;
        } else if (e.Name == "ff_byte" || e.Name == "last_payload_type_byte") {
            out.push_back(extended("last_payload_type_byte", "payloadType"));
            payloadShown = kDecodedPayloads.count(out.back().Value) != 0;
            out.push_back(extended("last_payload_size_byte", "payloadSize"));
        } else if (!payloadShown) {
            ++i;
        } else if (startsWith(e.Name, "uuid_iso_iec_11578[")) {
            RefElement uuid{"uuid_iso_iec_11578", 0, "", 128, e.Position};
            for (int k = 0; k < 16; ++k, ++i) {
                if (k == 4 || k == 6 || k == 8 || k == 10) {
                    uuid.Text += '-';
                }
                uuid.Text += Hex2(static_cast<std::uint8_t>(elements[i].Value));
            }
            out.push_back(uuid);
        } else if (startsWith(e.Name, "user_data_payload_byte[")) {
            RefElement data{"user_data_payload_byte", 0, "", 0, e.Position};
            std::string bytes;
            for (; i < elements.size() && startsWith(elements[i].Name, "user_data_payload_byte[");
                 ++i) {
                bytes += static_cast<char>(elements[i].Value);
                data.Bits += 8;
            }
            const std::string text = bytes.substr(0, bytes.find_last_not_of('\0') + 1);
            const bool printable =
                !text.empty() &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= 32 && c < 127; });
            if (printable) {
                data.Text = '"' + text + '"';
            } else {
                for (std::size_t k = 0; k < bytes.size() && k < 32; ++k) {
                    data.Text += (k > 0 ? " " : "") + Hex2(static_cast<std::uint8_t>(bytes[k]));
                }
                data.Text += bytes.size() > 32 ? " ..." : "";
            }
            out.push_back(data);
        } else {
            RefElement renamed = e;
            const auto found = kRenamed.find(e.Name);
            if (found != kRenamed.end()) {
                renamed.Name = found->second;
            }
            out.push_back(renamed);
            ++i;
        }
    }
    for (RefElement& e : out) {
        if (e.Text.empty()) {
            e.Text = std::to_string(e.Value);
        }
    }
    return out;
}

} // namespace reference
