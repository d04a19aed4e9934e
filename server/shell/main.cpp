#include "OrbManagerApp.h"

int main(int argc, char** argv) {
    COrbManagerApp app;
    return app.Run(argc, argv);
}
