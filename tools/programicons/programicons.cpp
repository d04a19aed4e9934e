// programicons <folder>: writes the icons the windowed programs show (Brovik, loadrig,
// linesweep, addrsetup) as PNG files named after each program, for the desktop entries: every
// size an icon has, in <folder>/<N>x<N>/apps as the icon theme wants them. The monitors' icons
// are XPM files of their own and are installed as they are.

#include <linesweep/LineSweepArt.h>

#include <platform/ProgramInfo.h>

#include <QApplication>
#include <QDir>
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
        QList<QSize> sizes = icon.availableSizes();
        if (sizes.isEmpty())
            sizes.append(QSize(48, 48));
        for (const QSize& size : sizes) {
            // The folder is named after the picture itself, which may come out smaller.
            const QPixmap picture = icon.pixmap(size);
            const QString sized =
                QString("%1/%2x%3/apps").arg(folder).arg(picture.width()).arg(picture.height());
            const QString file = sized + "/" + name + ".png";
            if (!QDir().mkpath(sized) || !picture.save(file, "PNG")) {
                std::fprintf(stderr, "programicons: cannot write %s\n", qPrintable(file));
                return 1;
            }
        }
    }
    return 0;
}
