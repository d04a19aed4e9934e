#include "SplashWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace shell {

namespace {
SplashWindow* g_pSplash = nullptr;
}

void SplashWindow::Show(const std::vector<std::string>& folders, int visibleMs) {
    if (g_pSplash != nullptr)
        return;
    SplashLibrary library;
    if (!library.Load(folders))
        return;
    const std::vector<std::uint8_t> bytes = library.Bitmap(SplashLibrary::kBitmapName);
    QPixmap picture;
    if (bytes.empty() ||
        !picture.loadFromData(bytes.data(), static_cast<uint>(bytes.size()), "BMP"))
        return;
    auto* splash = new SplashWindow(picture);
    g_pSplash = splash;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        splash->move(area.center() - QPoint(picture.width() / 2, picture.height() / 2));
    }
    splash->show();
    splash->repaint();
    QTimer::singleShot(visibleMs, splash, [] { Hide(); });
}

void SplashWindow::Hide() {
    if (g_pSplash != nullptr)
        g_pSplash->deleteLater();
    g_pSplash = nullptr;
}

SplashWindow::SplashWindow(QPixmap picture)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_Picture(std::move(picture)) {
    setFixedSize(m_Picture.size());
}

SplashWindow::~SplashWindow() {
    if (g_pSplash == this)
        g_pSplash = nullptr;
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter(this).drawPixmap(0, 0, m_Picture);
}

} // namespace shell
