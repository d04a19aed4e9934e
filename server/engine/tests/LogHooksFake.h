#pragma once

// The user interface as a test sees it: every log line recorded as "image:text", every status
// text recorded, every other call counted. Thread-safe, so a test may read it while engine threads
// call it.

#include <engine/ShellHooks.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

class LogHooksFake : public engine::ShellHooks {
public:
    void AppendLogLine(int image, const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.push_back(std::to_string(image) + ":" + text);
    }
    void RefreshClientList() override { ++refreshes; }
    void PurgeDeadClients() override { ++purges; }
    void PlayLogoAnimation() override { ++logos; }
    void ClientsChanged() override { ++changes; }
    void ShowStatusText(const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock_);
        statuses_.push_back(text);
    }

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_;
    }
    // The latest line; empty when there is none.
    std::string Last() const {
        std::lock_guard<std::mutex> guard(lock_);
        return lines_.empty() ? std::string() : lines_.back();
    }
    bool Has(const std::string& line) const {
        std::lock_guard<std::mutex> guard(lock_);
        return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock_);
        lines_.clear();
        statuses_.clear();
    }
    std::vector<std::string> Statuses() const {
        std::lock_guard<std::mutex> guard(lock_);
        return statuses_;
    }

    std::atomic<int> refreshes{0};
    std::atomic<int> purges{0};
    std::atomic<int> logos{0};
    std::atomic<int> changes{0};

private:
    mutable std::mutex lock_;
    std::vector<std::string> lines_;
    std::vector<std::string> statuses_;
};
