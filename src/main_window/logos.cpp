#include "logos.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace rava {

namespace {

// Concentric arcs spreading to the right of `centre`.
void drawWaves(QPainter& p, QPointF centre, int count, qreal first, qreal step,
               const QColor& colour, qreal width, int spanDegrees) {
    for (int i = 0; i < count; ++i) {
        QColor c = colour;
        c.setAlphaF(1.0 - 0.22 * i);
        p.setPen(QPen(c, width, Qt::SolidLine, Qt::RoundCap));
        const qreal r = first + step * i;
        const QRectF box(centre.x() - r, centre.y() - r, 2 * r, 2 * r);
        p.drawArc(box, -spanDegrees * 8, spanDegrees * 16);
    }
}

} // namespace

QPixmap upperLogo() {
    QPixmap pixmap(257, 72);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, 0, 72);
    sky.setColorAt(0, QColor(12, 44, 110));
    sky.setColorAt(1, QColor(30, 96, 180));
    p.fillRect(pixmap.rect(), sky);

    // Wordmark with a soft shadow.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(42);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    const QRect textBox(10, 6, 180, 60);
    p.setPen(QColor(0, 0, 0, 110));
    p.drawText(textBox.translated(2, 2), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("RAVA 2"));
    p.setPen(QColor(255, 255, 255));
    p.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("RAVA 2"));

    // Antenna mast with waves to the right.
    const QPointF tip(205, 30);
    p.setPen(QPen(QColor(255, 210, 60), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(tip.x(), tip.y()), QPointF(tip.x(), 64));
    p.drawLine(QPointF(tip.x() - 9, 64), QPointF(tip.x() + 9, 64));
    p.setBrush(QColor(255, 210, 60));
    p.drawEllipse(tip, 4, 4);
    drawWaves(p, tip, 4, 10, 9, QColor(128, 255, 255), 2.5, 90);

    // Underline in the window's own cyan.
    p.setPen(QPen(QColor(128, 255, 255), 2));
    p.drawLine(12, 62, 176, 62);
    return pixmap;
}

QPixmap lowerLogo() {
    QPixmap pixmap(180, 124);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QRadialGradient glow(90, 40, 120);
    glow.setColorAt(0, QColor(240, 255, 255));
    glow.setColorAt(1, QColor(150, 215, 235));
    p.fillRect(pixmap.rect(), glow);

    // The modem: a rounded box with a front panel, lights and a connector.
    const QRectF body(28, 64, 124, 42);
    QLinearGradient metal(body.topLeft(), body.bottomLeft());
    metal.setColorAt(0, QColor(90, 100, 120));
    metal.setColorAt(1, QColor(35, 40, 55));
    p.setPen(QPen(QColor(20, 20, 30), 1.5));
    p.setBrush(metal);
    p.drawRoundedRect(body, 7, 7);
    p.setBrush(QColor(20, 24, 34));
    p.drawRoundedRect(QRectF(38, 76, 70, 18), 3, 3);

    const QColor lights[] = {QColor(60, 230, 90), QColor(255, 200, 40), QColor(240, 60, 50)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(Qt::NoPen);
        p.setBrush(lights[i]);
        p.drawEllipse(QPointF(48 + 18 * i, 85), 4, 4);
    }
    p.setBrush(QColor(200, 205, 215));
    p.setPen(QPen(QColor(20, 20, 30), 1));
    p.drawRect(QRectF(120, 78, 22, 14));
    for (int i = 0; i < 4; ++i)
        p.drawPoint(QPointF(124 + 5 * i, 85));

    // Antenna on the box's left shoulder, sending waves both ways.
    const QPointF foot(58, 64);
    const QPointF tip(58, 18);
    p.setPen(QPen(QColor(30, 30, 40), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(foot, tip);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(240, 60, 50));
    p.drawEllipse(tip, 4.5, 4.5);
    p.setBrush(Qt::NoBrush);
    drawWaves(p, tip, 3, 11, 10, QColor(20, 90, 170), 2.5, 70);
    p.save();
    p.translate(2 * tip.x(), 0);
    p.scale(-1, 1);
    drawWaves(p, tip, 3, 11, 10, QColor(20, 90, 170), 2.5, 70);
    p.restore();

    // Serial cable leaving the box.
    QPainterPath cable;
    cable.moveTo(142, 85);
    cable.cubicTo(165, 85, 160, 115, 178, 112);
    p.setPen(QPen(QColor(30, 30, 40), 3));
    p.drawPath(cable);
    return pixmap;
}

} // namespace rava
