// programicons <folder>: writes the icons the windowed programs show (Brovik, loadrig,
// linesweep, addrsetup) as 48x48 PNG files named after each program, for the desktop entries.
// The monitors' icons are XPM files of their own and are installed as they are.

#include <linesweep/LineSweepArt.h>

#include <platform/ProgramInfo.h>

#include <QApplication>
#include <QIcon>
#include <QStyle>

#include <cstdio>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions({"programicons",
                                     "Writes the windowed programs' icons as PNG files.",
                                     "  <folder>              where the PNG files go\n", 0},
                                    argc, argv))
        return 0;
    if (argc < 2) {
        std::fprintf(stderr, "usage: programicons <folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    QStyle* style = QApplication::style();
    // The same icons the windows set for themselves.
    const std::vector<std::pair<const char*, QIcon>> icons = {
        {"Brovik", style->standardIcon(QStyle::SP_ComputerIcon)},
        {"loadrig", style->standardIcon(QStyle::SP_DesktopIcon)},
        {"linesweep", linesweep::ApplicationIcon()},
        {"addrsetup", style->standardIcon(QStyle::SP_DriveNetIcon)},
    };
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const auto& [name, icon] : icons) {
        const QString file = folder + "/" + name + ".png";
        if (!icon.pixmap(48, 48).save(file, "PNG")) {
            std::fprintf(stderr, "programicons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
