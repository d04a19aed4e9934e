#include "LogoWidget.h"

#include <QPainter>

namespace shell {

LogoWidget::LogoWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(&m_Timer, &QTimer::timeout, this, [this] {
        if (m_Clip)
            ShowFrame((m_nFrame + 1) % m_Clip->FrameCount());
    });
}

void LogoWidget::Open(const std::string& path) {
    Close();
    m_Clip = AviClip::Load(path);
    if (m_Clip)
        ShowFrame(0);
}

void LogoWidget::Close() {
    m_Timer.stop();
    m_Clip.reset();
    m_Image = QImage();
    m_nFrame = 0;
    update();
}

void LogoWidget::Play(bool play) {
    if (!m_Clip)
        return;
    m_Timer.stop();
    ShowFrame(0);
    if (play)
        m_Timer.start(m_Clip->FrameIntervalMs());
}

void LogoWidget::ShowFrame(int index) {
    m_nFrame = index;
    const auto& pixels = m_Clip->Frame(index);
    m_Image = QImage(reinterpret_cast<const uchar*>(pixels.data()), m_Clip->Width(),
                     m_Clip->Height(), m_Clip->Width() * 4, QImage::Format_ARGB32)
                  .copy();
    update();
}

void LogoWidget::paintEvent(QPaintEvent*) {
    if (m_Image.isNull())
        return;
    QPainter painter(this);
    const QSize size = m_Image.size().scaled(this->size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
    painter.drawImage(target, m_Image);
}

} // namespace shell
