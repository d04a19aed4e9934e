#include "HeadlessView.h"

#include "WaitDialogModel.h"

#include <engine/TraceLog.h>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace shell {

using namespace engine;

namespace {

void Tell(const std::string& text) {
    std::fprintf(stderr, "[USER] %s\n", text.c_str());
    TraceLog("[USER] %s", text.c_str());
}

} // namespace

bool HeadlessView::AskOkCancel(int, const std::string& text, bool) {
    Tell(text);
    return true;
}

void HeadlessView::ShowMessageBox(int, const std::string& text) {
    Tell(text);
}

void HeadlessView::AppendLogRow(int, const std::string&, const std::string&) {
    ++m_nRows;
    ++m_nTotalRows;
}

void HeadlessView::RunWaitDialog(WaitDialogModel& model, int tickMs) {
    RunWaitLoop(model, tickMs);
}

void HeadlessView::RunWaitLoop(WaitDialogModel& model, int tickMs) {
    if (model.IsDone())
        return;
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (model.OnTick())
            loop.quit();
    });
    tick.start(std::max(tickMs, 1));
    loop.exec();
}

} // namespace shell
