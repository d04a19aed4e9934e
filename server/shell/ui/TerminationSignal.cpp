#include "TerminationSignal.h"

#include <engine/TraceLog.h>

namespace shell {

using namespace engine;

TerminationSignal::TerminationSignal(QObject* parent)
    : QObject(parent), m_stop(std::make_unique<platform::WindowStopSignal>(
                           [this](int signalNumber) { emit Received(signalNumber); },
                           [](const std::string& text) { TraceLog("[ERROR] %s", text.c_str()); })) {
}

TerminationSignal::~TerminationSignal() = default;

} // namespace shell
