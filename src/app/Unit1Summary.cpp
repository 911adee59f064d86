// TForm1: the whole-stream summary in its pane, walked off the user-interface thread.

#include "app/SummaryWorker.h"
#include "app/Unit1.h"
#include "core/Guard.h"
#include "model/SetStore.h"

#include <algorithm>

void TForm1::StreamSummary1Click() {
    GuardVoid("TForm1.StreamSummary1Click", [&] {
        ISummaryView* pane = Widgets.SummaryPane;
        if (pane == nullptr) {
            return;
        }
        const bool show = !pane->PaneVisible();
        pane->SetPaneVisible(show);
        if (Widgets.StreamSummary1) {
            Widgets.StreamSummary1->SetChecked(show);
        }
        if (show) {
            StartSummary();
        } else {
            EndSummary();
        }
    });
}

void TForm1::StartSummary() {
    EndSummary();
    ISummaryView* pane = Widgets.SummaryPane;
    if (pane == nullptr || !pane->PaneVisible()) {
        return;
    }
    pane->SetPlot({});
    if (!Stream) {
        pane->SetFigures({"No file loaded."});
        pane->SetProgress(false, 0, "");
        return;
    }
    pane->SetFigures({});
    pane->SetCancelHandler([this] { CancelSummary(); });
    pane->SetClickHandler([this](std::int64_t offset) { SummaryPlotClick(offset); });
    pane->SetUnitTextHandler([this](std::int64_t offset, std::int64_t length) {
        return SummaryUnitText(offset, length);
    });
    pane->SetZoomHandler([this](std::int64_t first, std::int64_t end) { SummaryZoom(first, end); });
    FWholePlot = {};
    FPlotZoomed = false;
    pane->SetProgress(true, 0, NalOffsetText(0));
    FSummary = std::make_unique<TSummaryWorker>(FileName);
    if (Widgets.tmSummary) {
        Widgets.tmSummary->SetEnabled(true);
    }
}

void TForm1::EndSummary() {
    if (Widgets.tmSummary) {
        Widgets.tmSummary->SetEnabled(false);
    }
    if (FSummary && Widgets.SummaryPane) {
        Widgets.SummaryPane->SetProgress(false, 0, "");
    }
    FSummary.reset();
    FRefine.reset();
}

void TForm1::SummaryZoom(std::int64_t first, std::int64_t end) {
    GuardVoid("TForm1.SummaryZoom", [&] {
        FRefine.reset();
        ISummaryView* pane = Widgets.SummaryPane;
        if (!Stream || pane == nullptr) {
            return;
        }
        FPlotZoomed = first > 0 || end < Stream->Size();
        if (!FPlotZoomed) {
            pane->SetPlot(FWholePlot);
            RefreshSummaryPage();
            return;
        }
        FRefine = std::make_unique<TSummaryWorker>(FileName, first, end);
        if (Widgets.tmSummary) {
            Widgets.tmSummary->SetEnabled(true);
        }
    });
}

void TForm1::CancelSummary() {
    GuardVoid("TForm1.CancelSummary", [&] {
        if (FSummary) {
            FSummary->Cancel();
        }
    });
}

void TForm1::tmSummaryTimer() {
    GuardVoid("TForm1.tmSummaryTimer", [&] {
        ISummaryView* pane = Widgets.SummaryPane;
        if ((!FSummary && !FRefine) || pane == nullptr) {
            EndSummary();
            return;
        }
        // The zoomed range's own walk: its buckets replace the plot while zoomed.
        if (FRefine) {
            const bool refined = FRefine->Done();
            pane->SetPlot(SummaryPlotOf(FRefine->Snapshot()));
            RefreshSummaryPage();
            if (refined) {
                FRefine.reset();
            }
        }
        if (!FSummary) {
            if (!FRefine && Widgets.tmSummary) {
                Widgets.tmSummary->SetEnabled(false);
            }
            return;
        }
        const bool done = FSummary->Done();
        const TStreamSummary snapshot = FSummary->Snapshot();
        const bool complete = done && !FSummary->Cancelled() && FSummary->Failure().empty();
        std::vector<std::string> lines = SummaryFigureLines(snapshot, complete);
        TSummaryPlot plot = SummaryPlotOf(snapshot);
        const std::int64_t size = std::max<std::int64_t>(FSummary->FileSize(), 1);
        if (!done) {
            const std::int64_t reached = FSummary->Reached();
            pane->SetProgress(
                true, static_cast<int>(std::clamp<std::int64_t>(reached * 1000 / size, 0, 1000)),
                NalOffsetText(reached));
        } else if (!FSummary->Failure().empty()) {
            lines.push_back("Error reading " + FileName + ": " + FSummary->Failure());
        } else if (FSummary->Cancelled()) {
            lines.push_back("Cancelled at " + NalOffsetText(FSummary->Reached()) +
                            ": the figures above cover the file up to there.");
        }
        pane->SetFigures(lines);
        FWholePlot = plot;
        if (!FPlotZoomed) {
            pane->SetPlot(plot);
        }
        RefreshSummaryPage();
        if (done) {
            pane->SetProgress(false, 0, "");
            FSummary.reset();
            if (!FRefine && Widgets.tmSummary) {
                Widgets.tmSummary->SetEnabled(false);
            }
        }
    });
}

void TForm1::RefreshSummaryPage() {
    if (Widgets.SummaryPane == nullptr) {
        return;
    }
    if (LocatorCount > 0) {
        const TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
        Widgets.SummaryPane->SetPage(Locators[0].Offset, last.Offset + last.Len);
    } else {
        Widgets.SummaryPane->SetPage(-1, -1);
    }
}

void TForm1::SummaryPlotClick(std::int64_t offset) {
    GuardVoid("TForm1.SummaryPlotClick", [&] {
        if (Stream) {
            GoToOffset(
                std::clamp<std::int64_t>(offset, 0, std::max<std::int64_t>(Stream->Size() - 1, 0)));
        }
    });
}

std::string TForm1::SummaryUnitText(std::int64_t offset, std::int64_t length) {
    return Guard("TForm1.SummaryUnitText", std::string(), [&] {
        if (!Stream || offset < 0 || offset >= Stream->Size()) {
            return std::string();
        }
        TSetStore& sets = SetsAt(offset);
        // A copy: the summary's text is the reader's, and the Info column uses it too.
        return std::string(FUnitInfo.Read(*Stream, offset, length, Stream->Size(), &sets));
    });
}
