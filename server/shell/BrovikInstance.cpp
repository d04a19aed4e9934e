#include "BrovikInstance.h"

#include <engine/TraceLog.h>

#include <QDir>

#include <unistd.h>

namespace shell {

using namespace engine;

namespace {

constexpr char kNamePrefix[] = "brovik-";

} // namespace

SingleInstance::SingleInstance(std::string lockPath, QObject* parent)
    : platform::SingleInstance(std::move(lockPath), kNamePrefix, parent) {
    SetReport([](const std::string& text) { TraceLog("%s", text.c_str()); });
}

std::string SingleInstance::LockPathForRegistry(const std::string& registryPath) {
    return LockPathBeside(registryPath, ".brovik.lock");
}

std::string SingleInstance::CopiesFolder() {
    return QDir::tempPath().toStdString() + "/brovik-copies-" + std::to_string(::geteuid());
}

QString SingleInstance::ServerNameFor(const std::string& lockPath) {
    return platform::SingleInstance::ServerNameFor(lockPath, kNamePrefix);
}

void SingleInstance::KeyOnFileIdentity(const std::string& registryPath) {
    platform::SingleInstance::KeyOnFileIdentity(registryPath, CopiesFolder());
}

} // namespace shell
