#include "cli/PicturesCommand.h"

#include "cli/DumpOutput.h"
#include "model/PictureWalk.h"

#include <charconv>
#include <map>
#include <string>
#include <utility>

namespace {

const char* const kHeader = "decode\tdisplay\toffset\ttype\tidr\treference\tstructure\tframe_num\t"
                            "poc\ttop_poc\tbottom_poc\tbytes\tslice_bytes\tslices\tqp\texact\t"
                            "dpb\tl0\tl1\tproblems\tnotes\n";

// Appends a number, with no string of its own.
void Number(std::string& text, std::int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

const char* ParityText(std::int32_t parity) {
    return parity == 1 ? "t" : parity == 2 ? "b" : "";
}

// "4@8*": frame_num 4 (or L and LongTermFrameIdx), POC 8, waiting for output; a field
// buffer's parity after the count; a frame the gaps process inserted counts no POC.
void BufferText(const std::vector<TBufferEntry>& entries, std::string& text) {
    bool first = true;
    for (const TBufferEntry& e : entries) {
        text += first ? "" : " ";
        first = false;
        if (e.LongTerm()) {
            text += 'L';
        }
        Number(text, e.LongTerm() ? e.LongTermFrameIdx : e.FrameNum);
        text += '@';
        if (e.Exists) {
            Number(text, e.Poc);
        } else {
            text += "gap";
        }
        text += e.Fields == 3 ? "" : ParityText(e.Fields);
        text += e.ShortTerm() || e.LongTerm() ? "" : "-"; // only waits for output
        text += e.WaitingForOutput ? "*" : "";
    }
}

// The references of a list as POCs, "L" after a long-term one, "?picNum 7" for a missing one.
void ListText(const std::vector<TListEntry>& entries, std::string& text) {
    bool first = true;
    for (const TListEntry& e : entries) {
        text += first ? "" : " ";
        first = false;
        if (e.Missing) {
            text += e.LongTerm ? "?LongTermPicNum " : "?picNum ";
            Number(text, e.Number);
            continue;
        }
        if (!e.Exists) {
            text += "gap";
        }
        Number(text, e.Exists ? e.Poc : e.FrameNum);
        text += ParityText(e.Parity);
        text += e.LongTerm ? "L" : "";
    }
}

void Tsv(const TCodedPicture& p, std::string& line) {
    line.clear();
    const auto field = [&line](std::string_view value) {
        line += value;
        line += '\t';
    };
    const auto number = [&line](std::int64_t value) {
        Number(line, value);
        line += '\t';
    };
    number(p.Decode);
    if (p.Display >= 0) {
        number(p.Display);
    } else {
        field("-");
    }
    number(p.Offset);
    field(p.Types);
    field(p.Idr ? "1" : "0");
    number(p.NalRefIdc);
    field(StructureName(p.Structure));
    number(p.FrameNum);
    number(p.Count.Poc);
    number(p.Count.Top);
    number(p.Count.Bottom);
    number(p.Bytes);
    number(p.SliceBytes);
    number(p.Slices);
    Number(line, p.QpMin);
    line += '-';
    number(p.QpMax);
    field(p.Exact ? "1" : "0");
    BufferText(p.After, line);
    line += '\t';
    for (int l = 0; l < 2; ++l) {
        for (std::size_t s = 0; s < p.Lists.size(); ++s) {
            line += s == 0 ? "" : " | ";
            ListText(p.Lists[s].Final[l], line);
        }
        line += '\t';
    }
    number(static_cast<std::int64_t>(p.Problems.size() + p.ProblemsLeftOut));
    for (std::size_t i = 0; i < p.Problems.size(); ++i) {
        line += i == 0 ? "" : "; ";
        line += p.Problems[i];
    }
    line += '\n';
}

void JsonString(const std::string& text, std::string& out) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    out += '"';
}

void JsonList(const std::vector<TListEntry>& entries, std::string& out) {
    out += '[';
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out += i == 0 ? "" : ", ";
        out += entries[i].Missing || !entries[i].Exists ? "null" : std::to_string(entries[i].Poc);
    }
    out += ']';
}

void Json(const TCodedPicture& p, bool first, std::string& out) {
    out.clear();
    out += first ? "\n" : ",\n";
    const auto key = [&out](const char* name) {
        out += '"';
        out += name;
        out += "\": ";
    };
    out += '{';
    key("decode");
    out += std::to_string(p.Decode) + ", ";
    key("display");
    out += (p.Display >= 0 ? std::to_string(p.Display) : "null") + ", ";
    key("offset");
    out += std::to_string(p.Offset) + ", ";
    key("type");
    JsonString(p.Types, out);
    out += ", ";
    key("idr");
    out += p.Idr ? "true, " : "false, ";
    key("reference");
    out += p.NalRefIdc != 0 ? "true, " : "false, ";
    key("structure");
    JsonString(StructureName(p.Structure), out);
    out += ", ";
    key("frame_num");
    out += std::to_string(p.FrameNum) + ", ";
    key("poc");
    out += std::to_string(p.Count.Poc) + ", ";
    key("top_poc");
    out += std::to_string(p.Count.Top) + ", ";
    key("bottom_poc");
    out += std::to_string(p.Count.Bottom) + ", ";
    key("bytes");
    out += std::to_string(p.Bytes) + ", ";
    key("slice_bytes");
    out += std::to_string(p.SliceBytes) + ", ";
    key("slices");
    out += std::to_string(p.Slices) + ", ";
    key("qp");
    out += "[" + std::to_string(p.QpMin) + ", " + std::to_string(p.QpMax) + "], ";
    key("exact");
    out += p.Exact ? "true, " : "false, ";
    key("dpb");
    out += '[';
    for (std::size_t i = 0; i < p.After.size(); ++i) {
        const TBufferEntry& e = p.After[i];
        out += i == 0 ? "{" : ", {";
        key(e.LongTerm() ? "long_term_frame_idx" : "frame_num");
        out += std::to_string(e.LongTerm() ? e.LongTermFrameIdx : e.FrameNum) + ", ";
        key("poc");
        out += (e.Exists ? std::to_string(e.Poc) : "null") + ", ";
        key("long_term");
        out += e.LongTerm() ? "true, " : "false, ";
        key("reference");
        out += e.LongTerm() || e.ShortTerm() ? "true, " : "false, ";
        if (e.Fields != 3) {
            key("parity");
            JsonString(e.Fields == 1 ? "top" : "bottom", out);
            out += ", ";
        }
        key("waiting_for_output");
        out += e.WaitingForOutput ? "true}" : "false}";
    }
    out += "], ";
    key("lists");
    out += '[';
    for (std::size_t s = 0; s < p.Lists.size(); ++s) {
        out += s == 0 ? "{" : ", {";
        key("l0");
        JsonList(p.Lists[s].Final[0], out);
        out += ", ";
        key("l1");
        JsonList(p.Lists[s].Final[1], out);
        out += '}';
    }
    out += "], ";
    key("problems");
    out += '[';
    for (std::size_t i = 0; i < p.Problems.size(); ++i) {
        out += i == 0 ? "" : ", ";
        JsonString(p.Problems[i], out);
    }
    out += "]}";
}

} // namespace

void PrintPictures(FileStream& stream, bool json, bool displayOrder, std::ostream& out) {
    TLineBuffer lines(out);
    std::string text;
    bool first = true;
    const auto print = [&](const TCodedPicture& p) {
        if (json) {
            Json(p, first, text);
        } else {
            Tsv(p, text);
        }
        first = false;
        lines.Append(text);
    };
    lines.Append(json ? "{\"pictures\": [" : kHeader);
    // In display order a picture waits for those shown before it, no longer than the
    // model keeps a picture waiting for its place.
    std::map<std::pair<std::int64_t, std::int64_t>, TCodedPicture> waiting;
    std::int64_t next = 0;
    TPictureModel model([&](const TCodedPicture& p) {
        if (!displayOrder || p.Display < next) {
            print(p);
            return;
        }
        waiting.emplace(std::make_pair(p.Display, p.Decode), p);
        // A place no picture took (one given up on while it waited) is passed over.
        while (!waiting.empty() && (waiting.begin()->first.first <= next ||
                                    waiting.size() > 2 * TPictureModel::kQueueLimit)) {
            print(waiting.begin()->second);
            next = waiting.begin()->first.first + 1;
            waiting.erase(waiting.begin());
        }
    });
    WalkPictures(stream, model);
    for (const auto& [key, p] : waiting) {
        print(p);
    }
    if (json) {
        lines.Append("\n], \"problem_count\": " + std::to_string(model.Problems()) + "}\n");
    }
    lines.Drain();
}
