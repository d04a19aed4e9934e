#pragma once

// Collects every text that goes to the debugger output while it lives: it installs the test hook
// and turns g_nDebugMsgPrint on, and puts both back when it goes. Every call is thread-safe.
//
// Has, Count, IndexOf and WaitFor(text) match a whole text exactly, since the texts are the
// system's own and a test names them in full. CountPart and WaitForPart match a part of a text, for
// texts that carry run-time values or for a family of texts; CountIf takes any test of a text.

#include <engine/TraceLog.h>
#include <engine/TraceSettings.h>

#include <algorithm>
#include <chrono>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TraceCapture {
public:
    TraceCapture() : saved_(engine::g_nDebugMsgPrint.load()), lines_(std::make_shared<Lines>()) {
        engine::g_nDebugMsgPrint = 2;
        // The hook shares the lines: a thread may still be inside it after the hook is removed.
        engine::SetTraceDebugOutputHookForTest([lines = lines_](const std::string& text) {
            std::lock_guard<std::mutex> guard(lines->lock);
            lines->texts.push_back(text);
            lines->added.notify_all();
        });
    }
    ~TraceCapture() {
        engine::SetTraceDebugOutputHookForTest({});
        engine::g_nDebugMsgPrint = saved_;
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    bool Has(const std::string& text) const { return IndexOf(text) >= 0; }
    int Count(const std::string& text) const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        return static_cast<int>(std::count(lines_->texts.begin(), lines_->texts.end(), text));
    }
    // Position of the first text equal to this one; -1 when there is none.
    long IndexOf(const std::string& text) const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        const auto it = std::find(lines_->texts.begin(), lines_->texts.end(), text);
        return it == lines_->texts.end() ? -1 : it - lines_->texts.begin();
    }
    int CountPart(const std::string& part) const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        return CountPartLocked(lines_->texts, part);
    }
    template <typename Match>
    requires std::predicate<Match&, const std::string&>
    int CountIf(Match match) const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        return static_cast<int>(std::count_if(lines_->texts.begin(), lines_->texts.end(), match));
    }

    // Waits until done(texts) holds; it is asked again after every new text.
    template <typename Done>
    requires std::predicate < Done&, const std::vector<std::string>
    & > bool WaitFor(Done done, int timeoutMs) const {
        std::unique_lock<std::mutex> guard(lines_->lock);
        return lines_->added.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                      [&] { return done(lines_->texts); });
    }
    bool WaitFor(const std::string& text, int timeoutMs) const {
        return WaitFor(
            [&](const std::vector<std::string>& texts) {
                return std::find(texts.begin(), texts.end(), text) != texts.end();
            },
            timeoutMs);
    }
    // Waits until at least `count` texts hold the part.
    bool WaitForPart(const std::string& part, int timeoutMs, int count = 1) const {
        return WaitFor(
            [&](const std::vector<std::string>& texts) {
                return CountPartLocked(texts, part) >= count;
            },
            timeoutMs);
    }

    std::vector<std::string> Texts() const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        return lines_->texts;
    }
    // Every text on a line of its own, for a failure report.
    std::string All() const {
        std::lock_guard<std::mutex> guard(lines_->lock);
        std::string all;
        for (const std::string& text : lines_->texts)
            all += text + "\n";
        return all;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lines_->lock);
        lines_->texts.clear();
    }

private:
    struct Lines {
        std::mutex lock;
        std::condition_variable added;
        std::vector<std::string> texts;
    };
    static int CountPartLocked(const std::vector<std::string>& texts, const std::string& part) {
        return static_cast<int>(
            std::count_if(texts.begin(), texts.end(),
                          [&](const std::string& t) { return t.find(part) != std::string::npos; }));
    }

    std::uint32_t saved_;
    std::shared_ptr<Lines> lines_;
};

// Polls done() every few milliseconds until it holds or the time is up; for conditions that no
// event announces.
template <typename Done> bool WaitUntil(Done done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
