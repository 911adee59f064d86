#include "app/Unit1.h"

#include "core/Guard.h"

#include <algorithm>
#include <stdexcept>

// Opening files from the dialog, drops, the command line and the recent files, and
// copying the views' texts.

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("\\/");
#else
    const std::size_t slash = path.find_last_of('/');
#endif
    if (slash == std::string::npos) {
        return {};
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool TForm1::StreamFileAccepted(const std::string& path, std::string& reason) {
    FileStream stream;
    if (!stream.Open(path)) {
        reason = stream.OpenReason();
        return false;
    }
    return IsH264VideoES(stream, &reason);
}

bool TForm1::OpenStreamFile(const std::string& path, bool unloadFirst, std::string& reason) {
    // Checked before anything is unloaded, so that a refused file leaves the user where
    // they were.
    if (!StreamFileAccepted(path, reason)) {
        return false;
    }
    if (unloadFirst) {
        UnloadFile();
    }
    if (!LoadFile(path)) {
        // It changed since the check; LoadFile has let the loaded file go, as it does.
        reason = LoadFailure;
        return false;
    }
    OpenFolder = FolderOf(path);
    RememberRecentFile(path);
    return true;
}

void TForm1::OpenFiles(const std::vector<std::string>& paths, bool skipMissing) {
    std::vector<std::pair<std::string, std::string>> refusals;
    {
        const TBusyCursor busy(Widgets.Screen);
        for (const std::string& path : paths) {
            if (skipMissing && !FileExists(path)) {
                continue;
            }
            std::string reason;
            if (!OpenStreamFile(path, true, reason)) {
                refusals.emplace_back(path, reason);
            }
        }
    }
    if (!refusals.empty()) {
        ShowRefusals(refusals);
    }
}

void TForm1::OpenCommandLine(const std::vector<std::string>& paths) {
    GuardVoid("TForm1.OpenCommandLine", [&] { OpenFiles(paths, false); });
}

void TForm1::ShowRefusals(const std::vector<std::pair<std::string, std::string>>& refusals) {
    // One box for all: the first line once, then each file and its reason.
    std::string text = NotValidStreamText(refusals.front().first, refusals.front().second);
    for (std::size_t i = 1; i < refusals.size(); ++i) {
        text += "\n\n" + refusals[i].first + '\n' + refusals[i].second;
    }
    if (Widgets.Dialogs) {
        Widgets.Dialogs->ShowWarning(kProductName, text);
    }
}

// --- Recent files ---------------------------------------------------------------------

void TForm1::RememberRecentFile(const std::string& path) {
    RecentFiles.erase(std::remove(RecentFiles.begin(), RecentFiles.end(), path), RecentFiles.end());
    RecentFiles.insert(RecentFiles.begin(), path);
    if (RecentFiles.size() > kRecentFileCount) {
        RecentFiles.resize(kRecentFileCount);
    }
    ShowRecentFiles();
}

void TForm1::ShowRecentFiles() {
    if (Widgets.RecentFiles1) {
        Widgets.RecentFiles1->SetRecentFiles(RecentFiles);
    }
}

void TForm1::RecentFileClick(int index) {
    GuardVoid("TForm1.RecentFileClick", [&] {
        if (index < 0 || static_cast<std::size_t>(index) >= RecentFiles.size()) {
            return;
        }
        const std::string path = RecentFiles[static_cast<std::size_t>(index)];
        if (!FileExists(path)) {
            RecentFiles.erase(RecentFiles.begin() + index);
            ShowRecentFiles();
            if (Widgets.Dialogs) {
                Widgets.Dialogs->ShowWarning(
                    kProductName,
                    path + "\nis no longer there and was taken off the recent files.");
            }
            return;
        }
        std::string reason;
        bool opened = false;
        {
            const TBusyCursor busy(Widgets.Screen);
            opened = OpenStreamFile(path, false, reason);
        }
        if (!opened) {
            ShowRefusals({{path, reason}});
        }
    });
}

void TForm1::HexPaneResize() {
    GuardVoid("TForm1.HexPaneResize", [&] {
        // Lines cleared on purpose (the list's bar moved) stay cleared.
        if (HexView && HexView->IsFileOpen() && Widgets.ListBox1 && Widgets.ListBox1->Count() > 0) {
            HexView->RefreshFileData(-1);
        }
    });
}

// --- Copy -----------------------------------------------------------------------------

void TForm1::CopyText(const std::string& text) {
    if (!text.empty() && Widgets.Clipboard) {
        Widgets.Clipboard->SetText(text);
    }
}

std::string TForm1::ListView1CopyText(const std::vector<int>& rows) {
    std::string text;
    for (const int index : rows) {
        TReportRow row;
        ListView1Data(index, row);
        if (row.Caption.empty()) {
            continue;
        }
        // As quillet-dump lists it: with its Info text while the column shows it (--info).
        text += row.Caption + '\t' + row.SubItems[0] + '\t' + row.SubItems[1] + '\t' +
                row.SubItems[2] + (ShowInfoColumn ? '\t' + row.SubItems[3] : "") + '\n';
    }
    return text;
}

void TForm1::ListView1Copy() {
    GuardVoid("TForm1.ListView1Copy", [&] {
        if (Widgets.ListView1 && Widgets.ListView1->SelectedIndex() >= 0) {
            CopyText(ListView1CopyText({Widgets.ListView1->SelectedIndex()}));
        }
    });
}

void TForm1::CopyOffset1Click() {
    GuardVoid("TForm1.CopyOffset1Click", [&] {
        if (Widgets.ListView1) {
            CopyText(Widgets.ListView1->SelectedCaption());
        }
    });
}

void TForm1::TreeView1Copy() {
    GuardVoid("TForm1.TreeView1Copy", [&] {
        if (!Widgets.TreeView1Selection) {
            return;
        }
        std::string text;
        for (const TBranchLine& line : Widgets.TreeView1Selection->SelectedBranch()) {
            text.append(static_cast<std::size_t>(2 * std::max(line.Depth, 0)), ' ');
            text += line.Text + '\n';
        }
        CopyText(text);
    });
}

void TForm1::ListBox1Copy() {
    GuardVoid("TForm1.ListBox1Copy", [&] {
        if (HexView && HexView->HasRange()) {
            std::string text;
            std::string reason;
            if (HexView->RangeText(text, reason)) {
                CopyText(text);
            } else if (Widgets.Dialogs) {
                Widgets.Dialogs->ShowMessage(reason);
            }
            return;
        }
        const int selected = Widgets.ListBox1 ? Widgets.ListBox1->SelectedIndex() : -1;
        if (selected >= 0) {
            CopyText(Widgets.ListBox1->Line(selected) + '\n');
        }
    });
}
