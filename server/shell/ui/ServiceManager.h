#pragma once

#include <string>
#include <vector>

namespace shell {

// The system service that runs the server without a desktop: a systemd unit that starts the
// program with "--service". The unit folder comes from VELTRANE_SYSTEMD_UNIT_DIR (default
// /etc/systemd/system) and the control program from VELTRANE_SYSTEMCTL (default "systemctl").
// Every call returns 1 or 0 as the service manager did; failures are traced as "[ERROR] ...".
class ServiceManager {
public:
    static constexpr const char* kServiceName = "Veltrane Link V2 Service";
    static constexpr const char* kUnitName = "veltrane-link-v2-service.service";
    static constexpr const char* kDescription = "Veltrane Link V2";
    // The argument the unit passes, by which the program knows it runs as the service.
    static constexpr const char* kServiceArgument = "--service";

    ServiceManager();

    // 1 when the unit file exists.
    int IsInstalled() const;
    // Stops the running service; 0 only when the stop fails. A service that is not installed
    // counts as stopped.
    int Stop();
    // Disables the service and deletes its unit; 1 when the unit is gone.
    int Remove();
    // Writes the unit for the program at this full path and enables it; 1 on success. A failed
    // enable leaves no unit behind.
    int Install(const std::string& modulePath);

    std::string UnitFilePath() const;
    const std::string& SystemctlProgram() const { return m_strSystemctl; }

    // The unit text; registryPath empty leaves the registry to the service's own default.
    // Empty when a path holds a line break or NUL, which a unit cannot carry.
    static std::string UnitText(const std::string& modulePath, const std::string& registryPath);

private:
    // Runs the control program with the arguments (no shell); true when it exits with 0.
    bool RunSystemctl(const std::vector<std::string>& args) const;

    std::string m_strUnitDir;
    std::string m_strSystemctl;
};

// The service step of the options dialog: with the option off an installed service is removed
// (not stopped first), with it on a missing one is installed; the outcome is traced.
void RegisterServiceByOption(bool on, const std::string& modulePath);

} // namespace shell
