// Saves a picture of the whole X screen, for looking at the running server under Xvfb:
//   xshot <file.png> [delay seconds]
#include <platform/ProgramInfo.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions(
            {"xshot", "Saves the screen (under Xvfb) as a PNG after an optional delay.",
             "  <file.png> [delay]    the picture and the seconds to wait first\n"},
            argc, argv))
        return 0;
    if (argc < 2) {
        std::fprintf(stderr, "usage: xshot <file.png> [delay seconds]\n");
        return 2;
    }
    QGuiApplication app(argc, argv);
    if (argc > 2)
        QThread::sleep(static_cast<unsigned long>(std::strtoul(argv[2], nullptr, 10)));
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        std::fprintf(stderr, "xshot: no screen\n");
        return 1;
    }
    const QPixmap picture = screen->grabWindow(0);
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "xshot: cannot save %s\n", argv[1]);
        return 1;
    }
    return 0;
}
