#pragma once

// Fakes of the picture pane and of the way back to the user-interface thread: the test's
// thread plays the user-interface thread and runs what the worker posted when it pumps.

#include "toolkit/PicturePane.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class FakePicturePane : public IPicturePane {
  public:
    bool Shown = false;
    TRgbImage Image;
    std::vector<std::string> Lines; // every line set, in order

    // The area a picture is shown in; 0 x 0 asks for it at full size.
    int Width = 0;
    int Height = 0;
    void SetVisible(bool visible) override { Shown = visible; }
    int ImageWidth() const override { return Width; }
    int ImageHeight() const override { return Height; }
    bool Visible() const override { return Shown; }
    void ShowImage(const TRgbImage& image) override { Image = image; }
    void ClearImage() override { Image = TRgbImage{}; }
    bool HasImage() const override { return Image.Pixels != nullptr; }
    void SetLine(const std::string& text) override { Lines.push_back(text); }
    std::string Line() const override { return Lines.empty() ? std::string() : Lines.back(); }
    // Where the view listens for the pointer; the test moves it.
    std::function<void(int x, int y)> Pointer;
    void SetPointerListener(std::function<void(int x, int y)> listener) override {
        Pointer = std::move(listener);
    }
    int Zoom = 0;
    void SetZoom(int zoom) override { Zoom = zoom; }
};

class FakeUiThread : public IUiThread {
  public:
    void Post(std::function<void()> task) override {
        const std::lock_guard<std::mutex> lock(FLock);
        FTasks.push_back(std::move(task));
        FPosted.notify_all();
    }
    // Runs posted tasks on the calling thread until done() holds; false when it does not
    // within the time.
    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(FLock);
                if (!FPosted.wait_until(lock, end, [this] { return !FTasks.empty(); })) {
                    return false;
                }
                task = std::move(FTasks.front());
                FTasks.pop_front();
            }
            task();
        }
        return true;
    }

  private:
    std::mutex FLock;
    std::condition_variable FPosted;
    std::deque<std::function<void()>> FTasks;
};
