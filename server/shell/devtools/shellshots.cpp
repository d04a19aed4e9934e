// Pictures of the server's main window and of each of its dialogs, for the README:
//   shellshots <output folder> <folder of ResDLLEN.so, VeltraneSplash.so and OrbLogo.avi>
// Run under Xvfb (scripts/screenshots.sh). Every picture shows the main window at the left and
// the dialog beside it, so that neither hides the other; the settings live in a registry of
// their own in a temp folder.
#include <shell/OrbManagerServer.h>
#include <shell/ui/OrbManagerWindow.h>
#include <shell/ui/ShellDialogsUi.h>
#include <shell/ui/SplashWindow.h>

#include <testsupport/DownloadingSwitch.h>

#include <engine/LinkState.h>

#include <platform/ProgramInfo.h>
#include <platform/Registry.h>
#include <platform/ResourceLibrary.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

using namespace engine;
using namespace shell;

namespace {

using platform::RegKey;
using platform::RegRoot;

constexpr int kMainWidth = 760;
constexpr int kGap = 16;

RegKey Key(const std::string& path) {
    RegKey key;
    RegKey::Create(RegRoot::LocalMachine, path, key);
    return key;
}

void WriteSettings(const std::string& home, const std::string& libraries,
                   const testsupport::DownloadingSwitch& sw, int listenPort) {
    const std::string root = "Software\\Qorvell Electronics\\OrbManager";
    Key(root).SetString("OrbPath", home);
    RegKey conn = Key(root + "\\ConnEnv");
    conn.SetDword("DebugType", 0);
    conn.SetDword("ConnType", 2);
    conn.SetDword("SwitchType", 0);
    conn.SetString("IP Address", sw.Host());
    conn.SetDword("Port No", static_cast<std::uint32_t>(sw.Port()));
    conn.SetDword("Listen Port No", static_cast<std::uint32_t>(listenPort));
    conn.SetDword("CommPort", 1);
    conn.SetDword("BaudRate", 9600);
    conn.SetDword("ByteSize", 8);
    conn.SetDword("StopBits", 1);
    conn.SetString("SysInfo Password", "8062");
    RegKey options = Key(root + "\\OptionValues");
    options.SetString("DllPath", libraries);
    options.SetString("Extension", "ENG");
    options.SetString("MonitorAccessCode", "4711");
    options.SetDword("UseMsgMonitor", 0);
    // Off, so the main list shows every connected client.
    options.SetDword("UseUserManager", 0);
    RegKey users = Key(root + "\\UserData");
    const char* const stored[][5] = {{"Front desk", "192.168.10.31", "0", "Lobby", "201"},
                                     {"Sales 1", "192.168.10.32", "0", "Second floor", "-1"},
                                     {"Wallboard", "192.168.10.40", "1", "Hall display", "-1"}};
    users.SetDword("UserListCount", 3);
    for (int i = 0; i < 3; ++i) {
        RegKey sub;
        users.CreateSub("UserData_" + std::to_string(i), sub);
        sub.SetString("UserName", stored[i][0]);
        sub.SetString("IPAddress", stored[i][1]);
        sub.SetString("UserType", stored[i][2]);
        sub.SetString("UserInfo", stored[i][3]);
        sub.SetString("DeviceID", stored[i][4]);
        sub.SetString("DeviceSeqNo", std::string(stored[i][4]) == "-1" ? "-1" : "1");
    }
}

// Every dialog opens beside the main window, never over it.
class PlaceDialogs : public QObject {
public:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            auto* widget = qobject_cast<QWidget*>(object);
            if (widget != nullptr && widget->isWindow() && widget->objectName() != "main")
                widget->move(kMainWidth + kGap, 0);
        }
        return false;
    }
};

// The screen around the windows shown.
bool Save(const QString& file) {
    QRect area;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible()) {
            widget->repaint();
            area = area.united(widget->frameGeometry());
        }
    QApplication::processEvents();
    const QRect box = area.adjusted(0, 0, kGap, kGap);
    const QPixmap picture = QGuiApplication::primaryScreen()->grabWindow(0, box.x(), box.y(),
                                                                         box.width(), box.height());
    if (!picture.save(file)) {
        std::fprintf(stderr, "shellshots: cannot save %s\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (platform::AnswerInfoOptions(
            {"shellshots", "Makes the pictures of the server's dialogs (under Xvfb).",
             "  <output folder> <folder of ResDLLEN.so, VeltraneSplash.so and OrbLogo.avi>\n"},
            argc, argv))
        return 0;
    if (argc < 3) {
        std::fprintf(stderr, "usage: shellshots <output folder> <library folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const std::string libraries = argv[2];
    QDir().mkpath(out);
    QTemporaryDir home;
    ::setenv("QORVELL_REGISTRY", (home.path() + "/registry.reg").toLocal8Bit().constData(), 1);
    QFile::copy(QString::fromStdString(libraries + "/OrbLogo.avi"), home.path() + "/OrbLogo.avi");
    // The switch on loopback, and client ports away from the usual ones.
    testsupport::DownloadingSwitch sw;
    const int listenPort = 20000 + static_cast<int>(::getpid() % 20000);
    WriteSettings(home.path().toStdString(), libraries, sw, listenPort);

    platform::ResourceLibrary language;
    if (!language.Load(libraries + "/ResDLLEN.so")) {
        std::fprintf(stderr, "shellshots: %s\n", language.ErrorText().c_str());
        return 1;
    }
    OrbManagerServer server;
    server.SetResourceLookup([&](int id) {
        return id < 0 ? std::string() : language.String(static_cast<unsigned>(id));
    });
    PlaceDialogs placer;
    app.installEventFilter(&placer);
    OrbManagerWindow window(server);
    window.setObjectName("main");
    window.setGeometry(0, 0, kMainWidth, 620);
    window.show();
    server.OnInitDialog();
    // The link up with two clients on the client port.
    server.SwitchLinkControl(1);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 2; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QStringLiteral("127.0.0.1"),
                                      static_cast<quint16>(listenPort));
        clients.back()->waitForConnected(2000);
    }
    const auto settle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    settle(500);
    static_cast<COrbManagerDlg&>(server).RefreshClientList();
    settle(200);
    struct Shot {
        const char* file;
        std::function<void()> open;
    };
    const std::vector<Shot> shots = {
        {"splash.png", nullptr},
        {"main-window.png", nullptr},
        {"connection-settings.png", [&] { server.OnButton(kIdcConnEnv); }},
        {"options.png", [&] { server.OnButton(kIdcOptions); }},
        {"stored-users.png", [&] { server.OnButton(kIdcUserList); }},
        {"device-map.png", [&] { server.OnButton(kIdcUserManager); }},
        {"connected-users.png", [&] { server.OnButton(kIdcConnectedUsers); }},
        {"about.png", [&] { window.DialogsUi().ShowAbout(); }},
    };
    int failures = 0;
    std::size_t next = 0;
    std::function<void()> step = [&] {
        if (next >= shots.size()) {
            SplashWindow::Hide();
            app.quit();
            return;
        }
        const Shot& shot = shots[next++];
        if (!shot.open) {
            failures += Save(out + "/" + shot.file) ? 0 : 1;
            if (next == 1)
                SplashWindow::Hide();
            QTimer::singleShot(300, step);
            return;
        }
        // The dialog runs modally; this takes its picture and closes it.
        QTimer::singleShot(600, [&, file = QString::fromUtf8(shot.file)] {
            if (QWidget* dialog = QApplication::activeModalWidget()) {
                failures += Save(out + "/" + file) ? 0 : 1;
                dialog->close();
            } else {
                std::fprintf(stderr, "shellshots: no dialog for %s\n", qPrintable(file));
                ++failures;
            }
            QTimer::singleShot(300, step);
        });
        shot.open();
    };
    QTimer::singleShot(800, step);
    app.exec();
    clients.clear();
    server.SwitchLinkControl(0);
    server.OnCloseServer();
    return failures == 0 ? 0 : 1;
}
