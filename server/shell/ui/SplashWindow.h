#pragma once

#include <shell/SplashLibrary.h>

#include <QPixmap>
#include <QWidget>

#include <string>
#include <vector>

namespace shell {

// The picture shown while the main window starts, from the splash library's "IDB_SPLASH"
// bitmap. No library or no bitmap: no splash. One at most; it goes by itself.
class SplashWindow : public QWidget {
public:
    // Shows one unless one is shown or the picture can't be had; the folders are searched for
    // the library. Hidden after `visibleMs`.
    static void Show(const std::vector<std::string>& folders, int visibleMs);
    static void Hide();

    ~SplashWindow() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    explicit SplashWindow(QPixmap picture);
    QPixmap m_Picture;
};

} // namespace shell
