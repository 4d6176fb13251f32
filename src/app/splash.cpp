#include "app/splash.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "ui/twips.h"

namespace velda {

QPixmap SplashPicture(const QSize& size) {
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(0x0b, 0x2a, 0x5b));
    sky.setColorAt(1, QColor(0x1d, 0x8a, 0x8a));
    p.fillRect(pixmap.rect(), sky);
    const int r = size.height() / 4;
    const QPoint c(size.width() / 4, size.height() / 2);
    p.setBrush(QColor(0xf3, 0xc6, 0x23));
    p.setPen(QPen(Qt::white, 3));
    p.drawEllipse(c, r, r);
    QFont big(QStringLiteral("DejaVu Sans"));
    big.setBold(true);
    big.setPixelSize(r);
    p.setFont(big);
    p.setPen(QColor(0x0b, 0x2a, 0x5b));
    p.drawText(QRect(c.x() - r, c.y() - r, 2 * r, 2 * r), Qt::AlignCenter, QStringLiteral("V"));
    big.setPixelSize(r * 2 / 3);
    p.setFont(big);
    p.setPen(QColor(255, 255, 255, 210));
    p.drawText(QRect(c.x() + r + 12, 0, size.width(), size.height()),
               Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("VELDA"));
    return pixmap;
}

Splash::Splash(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Startup_Form"));
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    const FormUnits units(font());
    setFixedSize(units.X(4830), units.Y(3465));
    setStyleSheet(
        QStringLiteral("#Startup_Form { border: 1px solid #0b2a5b; background: white; }"));
    titleImage = Place<QLabel>(this, "titleImage", 45, 45, 4740, 2685);
    titleImage->setPixmap(SplashPicture(titleImage->size()));
    titleImage->installEventFilter(this);
    titleImage->setCursor(Qt::PointingHandCursor);
    SysTitle = Place<QLabel>(this, "SysTitle", 45, 2730, 4740, 285,
                             QStringLiteral("Velda Watermarking System v1.40"));
    QFont title(QStringLiteral("Arial"));
    title.setPointSizeF(9.75);
    title.setBold(true);
    SysTitle->setFont(title);
    SysTitle->setAlignment(Qt::AlignCenter);
    reg =
        Place<QLabel>(this, "reg", 60, 3015, 4740, 405,
                      QStringLiteral("2026 The Velda developers Support: velda-help@users.invalid\n"
                                     "https://velda.invalid/"));
    QFont small(QStringLiteral("Arial"));
    small.setPointSizeF(8.25);
    reg->setFont(small);
    reg->setAlignment(Qt::AlignCenter);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }
}

bool Splash::eventFilter(QObject* watched, QEvent* event) {
    if (watched == titleImage && event->type() == QEvent::MouseButtonRelease) {
        accept();
        close();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace velda
