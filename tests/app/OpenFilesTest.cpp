// The open flow's upkeep through the fakes: the recent files over many opens and a
// restart, the open dialog's folder and filter, and what Copy puts on the clipboard.

#include "app/Unit1.h"
#include "support/FakeWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// An AUD, an SPS-like unit and a slice: a stream the check accepts.
const char* kStream = "00 00 00 01 09 50 00 00 00 01 67 42 00 1E 00 00 01 65 88 84";

using Window = TFakeWindow;

// The fake window's form again, now with a settings store, shown as the program shows it;
// the one before is closed first.
TForm1* Restart(TFakeWindow& w, FakeSettingsStore& registry) {
    if (w.form) {
        w.form->FormClose();
        w.form.reset();
    }
    TForm1Widgets widgets{&w.list, &w.bar1,  &w.tree,  &w.hex,     &w.bar2,
                          &w.main, &w.check, &w.timer, &w.dialogs, &w.cursor};
    widgets.Registry = &registry;
    widgets.RecentFiles1 = &w.recent;
    widgets.Clipboard = &w.clipboard;
    w.form = std::make_unique<TForm1>(widgets);
    w.form->FormShow();
    return w.form.get();
}

TEST(RecentFiles, TheLastEightOpenedMostRecentFirstAcrossARestart) {
    TempDir dir;
    std::vector<std::string> streams;
    for (int i = 0; i < 11; ++i) {
        streams.push_back(dir.Write("s" + std::to_string(i) + ".264", Hex(kStream)));
    }
    const std::string bad = dir.Write("bad.264", std::vector<std::uint8_t>(64, 'x'));
    TFakeWindow w;
    FakeSettingsStore registry;
    TForm1* form = Restart(w, registry);
    // An independent model of the list: every accepted open goes first, once.
    std::vector<std::string> model;
    std::mt19937 random(17);
    for (int step = 0; step < 60; ++step) {
        const std::size_t pick = random() % (streams.size() + 1);
        const bool refused = pick == streams.size();
        const std::string path = refused ? bad : streams[pick];
        switch (step % 3) {
        case 0:
            w.dialogs.ChosenFile = path;
            form->Open1Click();
            break;
        case 1: {
            FakeDroppedFiles drop({path});
            TMessage message{kWmDropFiles, &drop};
            w.list.Send(message);
            break;
        }
        default:
            form->OpenCommandLine({path});
            break;
        }
        if (!refused) {
            model.erase(std::remove(model.begin(), model.end(), path), model.end());
            model.insert(model.begin(), path);
            model.resize(std::min<std::size_t>(model.size(), 8));
        }
        ASSERT_EQ(form->RecentFiles, model) << "step " << step;
        ASSERT_EQ(w.recent.Items, model) << "step " << step;
    }
    // A recent file opens from the menu and goes first.
    form->RecentFileClick(3);
    std::rotate(model.begin(), model.begin() + 3, model.begin() + 4);
    EXPECT_EQ(form->RecentFiles, model);
    EXPECT_EQ(form->FileName, model.front());

    // After a restart (the window closes and stores them) the list is back, in the menu too.
    w.recent.Items.clear();
    form = Restart(w, registry);
    EXPECT_EQ(form->RecentFiles, model);
    EXPECT_EQ(w.recent.Items, model);

    // One that has gone is taken off with a word, and the loaded file stays.
    const std::string loaded = form->FileName;
    std::filesystem::remove(model[2]);
    w.dialogs.Warnings.clear();
    form->RecentFileClick(2);
    ASSERT_EQ(w.dialogs.Warnings.size(), 1u);
    EXPECT_EQ(w.dialogs.Warnings[0].first, "Quillet");
    EXPECT_EQ(w.dialogs.Warnings[0].second.rfind(model[2] + "\n", 0), 0u);
    model.erase(model.begin() + 2);
    EXPECT_EQ(form->RecentFiles, model);
    EXPECT_EQ(w.recent.Items, model);
    EXPECT_EQ(form->FileName, loaded);
    form->FormClose();
    // The names written for the list follow the numbers, and every one is written.
    const auto& writes = registry.Writes;
    const auto folder = std::find(writes.begin(), writes.end(), "OpenFolder");
    ASSERT_NE(folder, writes.end());
    EXPECT_EQ(*(folder - 1), "ShowPicture"); // the last number
    EXPECT_EQ(
        std::vector<std::string>(folder + 1, folder + 9),
        (std::vector<std::string>{"RecentFile1", "RecentFile2", "RecentFile3", "RecentFile4",
                                  "RecentFile5", "RecentFile6", "RecentFile7", "RecentFile8"}));
    EXPECT_EQ(registry.Texts["Software\\Marvane\\Quillet"]["RecentFile8"], "");
}

TEST(OpenDialog, StartsInTheFilesFolderOrTheLastOneWithTheStreamPatterns) {
    TempDir dir;
    std::filesystem::create_directories(dir.Path() / "a");
    std::filesystem::create_directories(dir.Path() / "b");
    const std::string inA = dir.Write("a/s.264", Hex(kStream));
    const std::string inB = dir.Write("b/s.264", Hex(kStream));
    TFakeWindow w;
    FakeSettingsStore registry;
    TForm1* form = Restart(w, registry);
    form->Open1Click(); // cancelled
    EXPECT_EQ(w.dialogs.LastRequest.Folder, "");
    EXPECT_EQ(w.dialogs.LastRequest.FilterName, "H264 ES Files");
    EXPECT_EQ(w.dialogs.LastRequest.Patterns, "*.264 *.h264 *.h26l *.avc *.jsv *.jvt");
    w.dialogs.ChosenFile = inA;
    form->Open1Click();
    form->Open1Click();
    EXPECT_EQ(w.dialogs.LastRequest.Folder, (dir.Path() / "a").string());
    form->OpenCommandLine({inB});
    w.dialogs.ChosenFile.reset();
    form->Open1Click();
    EXPECT_EQ(w.dialogs.LastRequest.Folder, (dir.Path() / "b").string()) << "the file's folder";
    form->Close1Click();
    form = Restart(w, registry);
    form->Open1Click();
    EXPECT_EQ(w.dialogs.LastRequest.Folder, (dir.Path() / "b").string())
        << "kept with the settings";
    EXPECT_EQ(FolderOf("/s.264"), "/");
    EXPECT_EQ(FolderOf("s.264"), "");
}

TEST(Copy, TheListTheOffsetTheTreeBranchAndTheHexLine) {
    Window w;
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    w.list.Selected = 1;
    w.form->ListView1Copy();
    w.form->CopyOffset1Click();
    // As quillet-dump lists the unit: the independent listing has it at 6, 28 bytes long.
    EXPECT_EQ(w.clipboard.Texts,
              (std::vector<std::string>{
                  "0x0000000000000006\t28\t0x0000000167\tSequence parameter set\tHigh  1.1  "
                  "176x144\n",
                  "0x0000000000000006"}));
    EXPECT_EQ(w.form->ListView1CopyText({0, 1}).substr(0, 19), "0x0000000000000000\t");
    const std::string three = w.form->ListView1CopyText({0, 1, 2});
    EXPECT_EQ(std::count(three.begin(), three.end(), '\n'), 3);

    w.clipboard.Texts.clear();
    w.treeSelection.Branch = {{1, "seq_parameter_set_rbsp( )"}, {2, "profile_idc : 100"}};
    w.form->TreeView1Copy();
    w.hex.Selected = 0;
    w.form->ListBox1Copy();
    EXPECT_EQ(w.clipboard.Texts,
              (std::vector<std::string>{"  seq_parameter_set_rbsp( )\n    profile_idc : 100\n",
                                        w.hex.Lines[0] + "\n"}));

    // Nothing selected: the clipboard keeps what it had.
    w.clipboard.Texts.clear();
    w.list.Selected = -1;
    w.treeSelection.Branch.clear();
    w.hex.Selected = -1;
    w.form->ListView1Copy();
    w.form->CopyOffset1Click();
    w.form->TreeView1Copy();
    w.form->ListBox1Copy();
    EXPECT_TRUE(w.clipboard.Texts.empty());
}

} // namespace
