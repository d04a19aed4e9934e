#include "ConfigValidation.h"

#include "MonitorTexts.h"

#include <cstdlib>

namespace {

// A decimal value of digits only; -1 for an empty or non-numeric text or one too large.
long DecimalValue(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return -1;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return -1;
    }
    return std::strtol(text.c_str(), nullptr, 10);
}

} // namespace

ConfigInput ConfigInputFrom(const MonitorSettings& s, MonitorKind kind) {
    ConfigInput in;
    in.address = s.serverAddress;
    in.port = std::to_string(s.port);
    in.passCode = s.passCode;
    in.autoClear = s.useAutoClear;
    in.autoClearCount = std::to_string(s.autoClearCount);
    if (kind == MonitorKind::Smdr) {
        in.fileSave = s.useSmdrFileSave;
        in.fileName = s.smdrSaveFileName;
        in.ucdFileSave = s.useUcdFileSave;
        in.ucdFileName = s.ucdSaveFileName;
    } else {
        in.fileSave = s.useFileSave;
        in.fileName = s.saveFileName;
    }
    in.languagePosition = s.language;
    return in;
}

int LanguageFromPosition(int position) {
    return position == 0 || position == 2 || position == 3 || position == 4 ? position
                                                                            : kLangEnglish;
}

ConfigCheck ValidateConfig(MonitorKind kind, const ConfigInput& in, const MonitorSettings& current,
                           MonitorSettings& out) {
    const std::string passCode = in.passCode.substr(0, 20);
    if (passCode.size() < 4 || passCode.size() > 6)
        return {kStrBadPassCode, kIdCfgPassCode};
    const std::string address = in.address.substr(0, 256);
    if (address.empty())
        return {kStrBadAddress, kIdCfgAddress};
    const long port = DecimalValue(in.port);
    if (port <= 0 || (kind == MonitorKind::Switch && (port < 100 || port > 9999)) || port > 65535)
        return {kStrBadPort, kIdCfgPort};

    out = current;
    if (in.autoClear) {
        const long count = DecimalValue(in.autoClearCount);
        if (count < 100 || count > 9999)
            return {kStrBadAutoClear, kIdCfgAutoClearCount};
        out.autoClearCount = static_cast<std::uint32_t>(count);
    }
    out.useAutoClear = in.autoClear;

    if (in.fileSave && in.fileName.empty())
        return {kStrBadFileName, kIdCfgFileName};
    if (kind == MonitorKind::Smdr) {
        out.useSmdrFileSave = in.fileSave;
        if (in.fileSave)
            out.smdrSaveFileName = in.fileName;
        if (in.ucdFileSave && in.ucdFileName.empty())
            return {kStrBadFileName, kIdCfgUcdFileName};
        out.useUcdFileSave = in.ucdFileSave;
        if (in.ucdFileSave)
            out.ucdSaveFileName = in.ucdFileName;
    } else {
        out.useFileSave = in.fileSave;
        if (in.fileSave)
            out.saveFileName = in.fileName;
    }
    out.passCode = passCode;
    out.serverAddress = address;
    out.port = static_cast<std::uint32_t>(port);
    out.language = LanguageFromPosition(in.languagePosition);
    return {};
}
