#include "aboutPicture.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace tonvert {

namespace {

constexpr int kWidth = 417;
constexpr int kHeight = 137;

// Five staff lines across the picture with a run of notes rising to the right.
void drawStaff(QPainter& painter) {
    const int top = 60, gap = 9;
    painter.setPen(QPen(QColor(255, 255, 255, 70), 1));
    for (int line = 0; line < 5; ++line)
        painter.drawLine(0, top + line * gap, kWidth, top + line * gap);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    const int steps[] = {4, 3, 5, 2, 4, 1, 3, 0};
    for (int i = 0; i < 8; ++i) {
        const QPointF head(200 + i * 26, top + steps[i] * gap / 2.0 + gap);
        painter.save();
        painter.translate(head);
        painter.rotate(-20);
        painter.drawEllipse(QRectF(-5.5, -4, 11, 8));
        painter.restore();
        painter.fillRect(QRectF(head.x() + 4, head.y() - 28, 1.5, 28), QColor(255, 255, 255, 150));
    }
}

// A sound wave leaving the notes: the rendered audio.
void drawWave(QPainter& painter) {
    QPainterPath wave;
    wave.moveTo(0, 118);
    for (int x = 0; x <= kWidth; x += 3) {
        const double envelope = 2 + 10.0 * x / kWidth;
        wave.lineTo(x, 118 + envelope * std::sin(x / 6.0));
    }
    painter.setPen(QPen(QColor(255, 214, 102), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(wave);
}

} // namespace

QPixmap makeAboutPicture() {
    QPixmap picture(kWidth, kHeight);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    QLinearGradient sky(0, 0, kWidth, kHeight);
    sky.setColorAt(0.0, QColor(24, 40, 92));
    sky.setColorAt(1.0, QColor(58, 110, 165));
    painter.fillRect(picture.rect(), sky);

    drawStaff(painter);
    drawWave(painter);

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(40);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(20, 22, 190, 50), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Tonvert"));

    QFont motto(QStringLiteral("DejaVu Sans"));
    motto.setPixelSize(12);
    painter.setFont(motto);
    painter.setPen(QColor(220, 230, 245));
    painter.drawText(QRect(22, 70, 180, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("MIDI in, audio out"));
    return picture;
}

} // namespace tonvert
