#pragma once

#include "MainView.h"

#include <cstddef>
#include <string>

namespace shell {

// The view of the service, which has no window: message boxes go to standard error and the trace
// as "[USER] <text>", every question is answered OK, the download wait runs in a nested event
// loop, and the log rows are only counted.
class HeadlessView : public MainView {
public:
    void SetStatusText(const std::string&) override {}
    void SetStartStopText(const std::string&) override {}
    void SetConnTypeText(const std::string&) override {}
    void SetClientCountText(const std::string&) override {}
    void EnableControl(int, bool) override {}
    void SetWaitCursor(bool) override {}

    bool AskOkCancel(int id, const std::string& text, bool cancelIsDefault) override;
    void ShowMessageBox(int id, const std::string& text) override;

    void SetupLogList(const std::string&, const std::string&) override {}
    void AppendLogRow(int image, const std::string& time, const std::string& text) override;
    void ClearLogRows() override { m_nRows = 0; }

    void SetupClientList(const std::vector<std::string>&) override {}
    void SetClientRows(const std::vector<std::vector<std::string>>&) override {}

    void RunWaitDialog(WaitDialogModel& model, int tickMs) override;

    void HideToBackground() override {}
    void RaiseWindow() override {}

    // model.OnTick() every tickMs in a nested event loop of the calling thread until it is done.
    static void RunWaitLoop(WaitDialogModel& model, int tickMs);

    // Rows since the last clear, and every row ever appended.
    std::size_t LogRowCount() const { return m_nRows; }
    std::size_t TotalLogRows() const { return m_nTotalRows; }

private:
    std::size_t m_nRows = 0;
    std::size_t m_nTotalRows = 0;
};

} // namespace shell
