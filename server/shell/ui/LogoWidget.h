#pragma once

#include <shell/AviClip.h>

#include <QImage>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <string>

namespace shell {

// The logo animation: a clip shown still at its first frame, or playing over and over. A clip
// that is missing or can't be played leaves the area empty.
class LogoWidget : public QWidget {
public:
    explicit LogoWidget(QWidget* parent = nullptr);

    // Nothing is shown when the clip can't be read.
    void Open(const std::string& path);
    void Close();
    void Play(bool play);
    bool IsOpen() const { return m_Clip.has_value(); }
    bool IsPlaying() const { return m_Timer.isActive(); }
    int CurrentFrame() const { return m_nFrame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ShowFrame(int index);

    std::optional<AviClip> m_Clip;
    QImage m_Image;
    QTimer m_Timer;
    int m_nFrame = 0;
};

} // namespace shell
