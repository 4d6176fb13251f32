#include "ui/window_support.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>
#include <QWidget>

#include "imaging/formats.h"

namespace velda {

namespace {

QStringList LocalFiles(const QMimeData* data) {
    QStringList files;
    if (!data) return files;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) files.append(url.toLocalFile());
    }
    return files;
}

}  // namespace

FileDrop::FileDrop(QWidget* target, std::function<void(const QStringList&)> dropped)
    : QObject(target), dropped_(std::move(dropped)) {
    target->setAcceptDrops(true);
    target->installEventFilter(this);
}

bool FileDrop::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* e = static_cast<QDragMoveEvent*>(event);
            if (LocalFiles(e->mimeData()).isEmpty()) return false;
            e->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto* e = static_cast<QDropEvent*>(event);
            const QStringList files = LocalFiles(e->mimeData());
            if (files.isEmpty()) return false;
            e->acceptProposedAction();
            dropped_(files);
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
    }
}

void FocusScrollBar::paintEvent(QPaintEvent* event) {
    QScrollBar::paintEvent(event);
    if (!hasFocus()) return;
    QPainter p(this);
    QPen pen(palette().color(QPalette::Highlight), 2);
    p.setPen(pen);
    p.drawRect(rect().adjusted(1, 1, -1, -1));
}

namespace {

QString EachFormatFilter() {
    QString filters;
    for (const FormatInfo* f : Formats()) {
        if (!f->readable()) continue;
        const QString patterns = PictureEndingPatterns(f->id).toUpper();
        filters += QStringLiteral("%1 (%2)|%2|").arg(QLatin1String(f->title), patterns);
    }
    return filters;
}

QString AllPicturesFilter() {
    return QStringLiteral("All Pictures (%1)|%1|").arg(PictureEndingPatterns().toUpper());
}

const QString kAllFiles = QStringLiteral("All Files (*.*)|*.*|");

}  // namespace

QString OpenFilters() {
    return kAllFiles + AllPicturesFilter() + EachFormatFilter();
}

QString PictureFilters() {
    return AllPicturesFilter() + EachFormatFilter() + kAllFiles;
}

}  // namespace velda
