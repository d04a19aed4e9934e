#include <shell/ui/OrbManagerApp.h>

#include <platform/ProgramInfo.h>

using namespace shell;

int main(int argc, char** argv) {
    const platform::ProgramInfo info{
        "Brovik",
        "Veltrane Link: the link server between the switch and the PC clients. Without an\n"
        "option it opens its window; settings are read from the registry file.",
        "  --service             run headless, as the system service runs it (needs the\n"
        "                        option UseSystemServiceMode on)\n"
        "  -install              write and enable the systemd unit "
        "veltrane-link-v2-service.service\n"
        "  -remove               stop, disable and remove that unit\n",
        platform::kEnvWindow | platform::kEnvService};
    if (platform::AnswerInfoOptions(info, argc, argv))
        return 0;
    COrbManagerApp app;
    return app.Run(argc, argv);
}
