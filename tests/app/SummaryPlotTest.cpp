// The summary plot's model against ffmpeg's access units (its packets, laid one after
// another from the first start code, with the type of each picture's first slice): at every
// width and zoom, a click at each bar selects an access unit that ffmpeg has, of the size
// and type the bar and its tooltip give; where the bars have room, every access unit has
// one. Then the drawing's promises: ticks up to the largest picture, the legend, the page
// at least 3 px wide, the dragged band.

#include "app/SummaryPlot.h"
#include "app/SummaryWorker.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/ReferenceSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using namespace reference;

struct TReferenceUnit {
    std::int64_t Size = 0;
    std::string Type; // "I", "P", "B" or "IDR"
};

std::map<std::int64_t, TReferenceUnit> ReferenceUnits(const std::string& name, std::int64_t first) {
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));
    std::vector<std::string> types;
    for (const auto& [index, elements] : ref.Slices) {
        std::int64_t firstMb = -1;
        std::int64_t sliceType = -1;
        for (const RefElement& e : elements) {
            firstMb = e.Name == "first_mb_in_slice" ? e.Value : firstMb;
            sliceType = e.Name == "slice_type" ? e.Value : sliceType;
        }
        if (firstMb == 0) {
            static const char* const names[] = {"P", "B", "I", "SP", "SI"};
            types.push_back(
                ref.NalTypes[static_cast<std::size_t>(index)] == 5 ? "IDR" : names[sliceType % 5]);
        }
    }
    // ffmpeg's packets, each without the zero bytes at its end, which belong to no unit.
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath(name + ".264"));
    std::map<std::int64_t, TReferenceUnit> units;
    std::size_t picture = 0;
    for (const std::int64_t size : PacketSizes(name)) {
        std::int64_t end = first + size;
        while (end > first && bytes[static_cast<std::size_t>(end - 1)] == 0) {
            --end;
        }
        units[first] = {end - first, picture < types.size() ? types[picture] : "?"};
        first += size;
        ++picture;
    }
    return units;
}

TSummaryPlot PlotOf(const std::string& name, std::int64_t& firstStartCode) {
    FileStream stream;
    const std::string path = TestDataPath(name + ".264");
    EXPECT_TRUE(stream.Open(path));
    TStreamSummary summary;
    EXPECT_TRUE(WalkStreamSummary(stream, summary));
    firstStartCode = summary.FirstStartCode;
    return SummaryPlotOf(summary);
}

class SummaryPlotModel : public testing::TestWithParam<std::string> {};

TEST_P(SummaryPlotModel, AClickAtEachBarSelectsThatAccessUnit) {
    std::int64_t first = 0;
    const TSummaryPlot plot = PlotOf(GetParam(), first);
    const std::map<std::int64_t, TReferenceUnit> reference = ReferenceUnits(GetParam(), first);
    TSummaryPlotModel model;
    const auto unitText = [](std::int64_t, std::int64_t) { return std::string("POC lsb 0"); };
    const auto clickEachBar = [&](const char* state) {
        std::set<std::int64_t> selected;
        for (const TPlotColumn& column : model.Columns()) {
            const int x = (column.Left + column.Right - 1) / 2;
            model.Press(x);
            const std::optional<std::int64_t> offset = model.Release(x);
            const auto found = offset ? reference.find(*offset) : reference.end();
            if (found == reference.end()) {
                ADD_FAILURE() << state << ": no access unit at " << offset.value_or(-1);
                continue;
            }
            EXPECT_EQ(column.Bar.Largest, found->second.Size) << state << ": " << *offset;
            const std::string tip = model.TipAt(x, unitText);
            EXPECT_EQ(tip.rfind(NalOffsetText(*offset) + ": " + found->second.Type + " picture, " +
                                    std::to_string(found->second.Size) + " bytes",
                                0),
                      0u)
                << state << ": " << tip;
            EXPECT_NE(tip.find("\nFirst slice: POC lsb 0"), std::string::npos) << tip;
            selected.insert(*offset);
        }
        return selected;
    };
    model.SetSize(4096, 200, {7, 14});
    model.SetPlot(plot);
    std::set<std::int64_t> all;
    for (const auto& [offset, unit] : reference) {
        all.insert(offset);
    }
    EXPECT_EQ(clickEachBar("wide"), all);
    // The bitrate line where the VUI gives the timing of frames (trace_headers' values):
    // each access unit's kbit times the frames a second.
    double rate = 0;
    const RefStream ref = LoadRef(TestDataPath(GetParam() + ".ref"));
    for (const auto& [index, elements] : ref.ParameterSets) {
        std::map<std::string, std::int64_t> sps;
        for (const RefElement& e : elements) {
            sps.emplace(e.Name, e.Value);
        }
        if (ref.NalTypes[static_cast<std::size_t>(index)] == 7) {
            if (sps["timing_info_present_flag"] == 1 && sps["frame_mbs_only_flag"] == 1) {
                rate = static_cast<double>(sps["time_scale"]) /
                       (2.0 * static_cast<double>(sps["num_units_in_tick"]));
            }
            break;
        }
    }
    EXPECT_DOUBLE_EQ(plot.PicturesPerSecond, rate);
    EXPECT_EQ(model.Picture().Lines.size(), rate > 0 ? model.Columns().size() : 0u);
    for (const TPlotColumn& column : model.Columns()) {
        if (rate > 0 && column.Bar.Pictures == 1) {
            EXPECT_NEAR(model.RateOf(column.Bar),
                        static_cast<double>(reference.at(column.Bar.LargestOffset).Size) * 8 *
                            rate / 1000,
                        1e-6);
        }
    }
    // Fewer pixels than pictures (beside the 71 px of the axes): bars share them.
    model.SetSize(71 + std::max<int>(static_cast<int>(all.size()) / 2, 10), 200, {7, 14});
    EXPECT_LT(clickEachBar("narrow").size(), std::max<std::size_t>(all.size(), 11));
    model.SetSize(400, 200, {7, 14});
    // A drag across the middle fifth zooms into it: its bars spread out again.
    const TPlotColumn middle = model.Columns()[model.Columns().size() / 2];
    model.Press(middle.Left - 20);
    model.Drag(middle.Left + 20);
    EXPECT_FALSE(model.Release(middle.Left + 20));
    EXPECT_TRUE(model.Zoomed());
    clickEachBar("zoomed");
    // The zoomed range walked again: a bar for each access unit that begins within, but the
    // first met, which may have begun before.
    std::pair<std::int64_t, std::int64_t> told{-1, -1};
    model.OnViewChange = [&](std::int64_t a, std::int64_t b) { told = {a, b}; };
    model.Press(middle.Left - 20);
    model.Drag(middle.Left + 20);
    model.Release(middle.Left + 20);
    ASSERT_EQ(told, std::make_pair(model.ViewFirst(), model.ViewEnd()));
    {
        FileStream stream;
        ASSERT_TRUE(stream.Open(TestDataPath(GetParam() + ".264")));
        TStreamSummary range;
        TStreamSummaryWalk(stream, range, told.first, told.second).Run();
        model.SetPlot(SummaryPlotOf(range));
    }
    EXPECT_EQ(std::make_pair(model.ViewFirst(), model.ViewEnd()), told) << "the zoom stays";
    model.SetSize(4096, 200, {7, 14});
    std::set<std::int64_t> within;
    for (auto u = reference.lower_bound(told.first); u != reference.end() && u->first < told.second;
         ++u) {
        within.insert(u->first);
    }
    // The first unit from the range's start: when it begins the first of those access units
    // without a delimiter, the walk cannot tell whether it began earlier and leaves it out.
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath(GetParam() + ".264"));
    auto at = static_cast<std::size_t>(told.first);
    while (at + 3 < bytes.size() && !(bytes[at] == 0 && bytes[at + 1] == 0 && bytes[at + 2] == 1)) {
        ++at;
    }
    const auto firstMet = static_cast<std::int64_t>(at);
    if (!within.empty() && firstMet >= *within.begin() && firstMet <= *within.begin() + 1 &&
        (bytes[at + 3] & 0x1F) != 9) {
        within.erase(within.begin());
    }
    EXPECT_EQ(clickEachBar("refined"), within);
    model.ZoomOut();
    EXPECT_EQ(told, std::make_pair(std::int64_t{0}, plot.FileSize));
    EXPECT_EQ(model.ViewEnd() - model.ViewFirst(), plot.FileSize);
}

// What is drawn: the vertical ticks reach past the largest picture, the legend names the
// four kinds, and the page of one byte is 3 px wide, as is a band being dragged.
TEST(SummaryPlotModel, TicksLegendPageAndBand) {
    std::int64_t first = 0;
    const TSummaryPlot plot = PlotOf("aud_sei", first);
    TSummaryPlotModel model;
    model.SetPlot(plot);
    model.SetSize(600, 160, {7, 14});
    model.SetPage(plot.FileSize / 2, plot.FileSize / 2 + 1);
    std::int64_t largest = 0;
    for (const TSummaryBar& bar : plot.Bars) {
        largest = std::max(largest, bar.Largest);
    }
    const TPlotPicture& picture = model.Picture();
    double topTick = 0;
    std::set<std::string> texts;
    for (const TPlotText& text : picture.Texts) {
        texts.insert(text.Text);
        if (text.Align == TPlotAlign::Right) {
            topTick = std::max(topTick, std::stod(text.Text));
        }
    }
    EXPECT_GE(topTick * 1000, static_cast<double>(largest * 8));
    for (const char* name : {"I", "P", "B", "IDR", "kbit per picture, by file offset", "0"}) {
        EXPECT_EQ(texts.count(name), 1u) << name;
    }
    const auto widthOf = [&](TPlotColour colour) {
        for (const TPlotRect& r : model.Picture().Rects) {
            if (r.Colour == colour && r.Height > 20) {
                return r.Width;
            }
        }
        return 0;
    };
    EXPECT_EQ(widthOf(kPlotPage), 3);
    model.Press(300);
    model.Drag(340);
    EXPECT_EQ(widthOf(kPlotBand), 40);
}

INSTANTIATE_TEST_SUITE_P(TestData, SummaryPlotModel, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

} // namespace
