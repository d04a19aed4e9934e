#include "LineSweepArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace linesweep {
namespace {

// A receiver with three sweeping strokes under it: clearing what the lines hold.
void DrawEmblem(QPainter& p, const QRectF& box) {
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 64.0, box.height() / 64.0);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath handset;
    handset.moveTo(10, 22);
    handset.cubicTo(10, 8, 54, 8, 54, 22);
    handset.lineTo(46, 28);
    handset.lineTo(40, 20);
    handset.cubicTo(36, 17, 28, 17, 24, 20);
    handset.lineTo(18, 28);
    handset.closeSubpath();
    p.setPen(QPen(QColor(20, 40, 70), 2));
    p.setBrush(QColor(240, 244, 250));
    p.drawPath(handset);
    p.setPen(QPen(QColor(250, 190, 60), 4, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 3; ++i) {
        p.drawLine(QPointF(12 + i * 6, 52 - i * 8), QPointF(52 - i * 4, 52 - i * 8));
    }
    p.restore();
}

} // namespace

QPixmap BackgroundPicture() {
    QPixmap picture(210, 170);
    QPainter p(&picture);
    QLinearGradient sky(0, 0, 0, 170);
    sky.setColorAt(0, QColor(34, 78, 138));
    sky.setColorAt(1, QColor(12, 30, 62));
    p.fillRect(picture.rect(), sky);
    DrawEmblem(p, QRectF(20, 22, 80, 80));
    QFont title = p.font();
    title.setBold(true);
    title.setPixelSize(17);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(6, 112, 116, 22), Qt::AlignCenter, "linesweep");
    QFont small = p.font();
    small.setBold(false);
    small.setPixelSize(10);
    p.setFont(small);
    p.setPen(QColor(200, 215, 235));
    p.drawText(QRect(6, 134, 116, 16), Qt::AlignCenter, "for QMX Series");
    return picture;
}

QIcon ApplicationIcon() {
    QPixmap picture(32, 32);
    picture.fill(QColor(34, 78, 138));
    QPainter p(&picture);
    DrawEmblem(p, QRectF(0, 0, 32, 32));
    return QIcon(picture);
}

QPixmap ButtonPicture(const QString& text, ButtonState state) {
    QPixmap picture(81, 19);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QColor top(250, 200, 80);
    QColor bottom(214, 140, 20);
    QColor ink(30, 30, 30);
    if (state == ButtonState::Pressed) {
        std::swap(top, bottom);
    } else if (state == ButtonState::Disabled) {
        top = QColor(170, 170, 170);
        bottom = QColor(130, 130, 130);
        ink = QColor(90, 90, 90);
    }
    QLinearGradient fill(0, 0, 0, 19);
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.fillRect(picture.rect(), QColor(12, 30, 62));
    p.setBrush(fill);
    p.setPen(QPen(state == ButtonState::Focused ? Qt::white : QColor(90, 60, 10), 1.2));
    p.drawRoundedRect(QRectF(0.6, 0.6, 79.8, 17.8), 8, 8);
    QFont font = p.font();
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(ink);
    const QPoint shift = state == ButtonState::Pressed ? QPoint(1, 1) : QPoint(0, 0);
    p.drawText(picture.rect().translated(shift), Qt::AlignCenter, text);
    return picture;
}

} // namespace linesweep
