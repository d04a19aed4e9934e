#include <shell/ui/OrbManagerApp.h>

#include <platform/ProgramInfo.h>

using namespace shell;

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions(COrbManagerApp::ProgramDescription(), argc, argv))
        return 0;
    COrbManagerApp app;
    return app.Run(argc, argv);
}
