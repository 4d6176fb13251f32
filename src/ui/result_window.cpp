#include "ui/result_window.h"

#include <QActionGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace velda {

PictureView::PictureView(const Picbuf& picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::PictureChanged() {
    if (!fit_) resize(sizeHint());
    updateGeometry();
    update();
}

void PictureView::setFit(bool fit) {
    fit_ = fit;
    PictureChanged();
}

void PictureView::setZoom(double zoom) {
    fit_ = false;
    zoom_ = zoom;
    PictureChanged();
}

double PictureView::shownScale() const {
    const QImage& img = image();
    if (img.isNull()) return 1;
    if (!fit_) return zoom_;
    return static_cast<double>(img.size().scaled(size(), Qt::KeepAspectRatio).width()) /
           img.width();
}

void PictureView::showInstead(const Picbuf* other) {
    instead_ = other && other->HasPicture() ? other : nullptr;
    update();
}

QSize PictureView::sizeHint() const {
    return (QSizeF(image().size()) * zoom_).toSize();
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    const QImage& img = image();
    if (img.isNull()) return;
    if (!fit_ && zoom_ == 1) {
        const QRect r = event->rect() & img.rect();
        painter.drawImage(r.topLeft(), img, r);
        return;
    }
    if (!fit_) {
        // Only the exposed part, scaled from the pixels under it.
        const QRectF shown =
            QRectF(event->rect()) & QRectF(QPointF(0, 0), QSizeF(img.size()) * zoom_);
        const QRectF from(shown.topLeft() / zoom_, shown.size() / zoom_);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom_ < 1);
        painter.drawImage(shown, img, from);
        return;
    }
    // The whole picture scaled into the view, keeping its proportions.
    const QSize scaled = img.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2),
                       scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, img);
}

ResultWindow::ResultWindow(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Target"));
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    view_ = new PictureView(Full_Picbuf);
    view_->setObjectName(QStringLiteral("Full_Picbuf"));
    scroll_->setWidget(view_);
    scroll_->setWidgetResizable(false);
    scroll_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll_);

    fileMenu_ = new QMenu(tr("&File"), this);
    fileMenu_->setObjectName(QStringLiteral("file_mnu"));
    QAction* save = fileMenu_->addAction(tr("&Save As"), this, &ResultWindow::saveRequested);
    save->setObjectName(QStringLiteral("save_mnu"));
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* copy = fileMenu_->addAction(tr("&Copy"), this, &ResultWindow::Copy_mnu_Click);
    copy->setObjectName(QStringLiteral("Copy_mnu"));
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));

    viewMenu_ = new QMenu(tr("&View"), this);
    viewMenu_->setObjectName(QStringLiteral("view_mnu"));
    auto* group = new QActionGroup(this);
    // Neither is checked at a zoom step of its own.
    group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    fit_ = viewMenu_->addAction(tr("&Fit to window"));
    actual_ = viewMenu_->addAction(tr("&Actual size"));
    for (QAction* a : {fit_, actual_}) {
        a->setCheckable(true);
        group->addAction(a);
    }
    actual_->setChecked(true);
    connect(fit_, &QAction::triggered, this, [this] {
        ShowFitted(true);
        emit fitChosen(true);
    });
    connect(actual_, &QAction::triggered, this, [this] {
        ShowFitted(false);
        emit fitChosen(false);
    });
    viewMenu_->addSeparator();
    zoomIn = viewMenu_->addAction(tr("Zoom &in"), this, [this] { Zoom(1); });
    zoomIn->setObjectName(QStringLiteral("zoomin_mnu"));
    zoomIn->setShortcuts({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    zoomOut = viewMenu_->addAction(tr("Zoom &out"), this, [this] { Zoom(-1); });
    zoomOut->setObjectName(QStringLiteral("zoomout_mnu"));
    zoomOut->setShortcut(QKeySequence::ZoomOut);
    // To compare: the picture as it was opened, while chosen or while the
    // backslash key is held.
    showOriginal = viewMenu_->addAction(tr("Show &original"));
    showOriginal->setObjectName(QStringLiteral("original_mnu"));
    showOriginal->setCheckable(true);
    connect(showOriginal, &QAction::toggled, this,
            [this](bool on) { view_->showInstead(on ? &Copy_Picbuf : nullptr); });
    scroll_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);
}

namespace {

// The zoom steps, in percent.
constexpr int kZoomSteps[] = {5, 10, 17, 25, 33, 50, 67, 100, 150, 200, 300, 400, 600, 800};

}  // namespace

void ResultWindow::Zoom(int steps) {
    const int now = static_cast<int>(std::lround(view_->shownScale() * 100));
    const int* begin = std::begin(kZoomSteps);
    const int* end = std::end(kZoomSteps);
    // The step beyond the scale shown, however it came (a fit is rarely
    // one of the steps).
    int next = now;
    if (steps > 0) {
        const int* it = std::upper_bound(begin, end, now);
        next = it == end ? end[-1] : *it;
    } else {
        const int* it = std::lower_bound(begin, end, now);
        next = it == begin ? *begin : it[-1];
    }
    fit_->setChecked(false);
    actual_->setChecked(next == 100);
    scroll_->setWidgetResizable(false);
    view_->setZoom(next / 100.0);
    emit zoomChanged(next);
}

void ResultWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Backslash && !event->isAutoRepeat()) {
        view_->showInstead(&Copy_Picbuf);
        return;
    }
    QWidget::keyPressEvent(event);
}

void ResultWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Backslash && !event->isAutoRepeat()) {
        view_->showInstead(showOriginal->isChecked() ? &Copy_Picbuf : nullptr);
        return;
    }
    QWidget::keyReleaseEvent(event);
}

bool ResultWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::Resize && view_->fit())
        emit zoomChanged(static_cast<int>(std::lround(view_->shownScale() * 100)));
    if (event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        if (wheel->modifiers() & Qt::ControlModifier) {
            const int delta = wheel->angleDelta().y();
            if (delta != 0) Zoom(delta > 0 ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ResultWindow::ShowFitted(bool fit) {
    (fit ? fit_ : actual_)->setChecked(true);
    scroll_->setWidgetResizable(fit);
    if (fit) {
        view_->setFit(true);
    } else {
        view_->setZoom(1);
    }
    // The fitted scale is known once the view has its size.
    emit zoomChanged(static_cast<int>(std::lround(view_->shownScale() * 100)));
}

void ResultWindow::closeEvent(QCloseEvent* event) {
    emit closing();
    QWidget::closeEvent(event);
}

void ResultWindow::Refresh() {
    view_->PictureChanged();
}

void ResultWindow::Copy_mnu_Click() {
    if (BeforeUse) BeforeUse();
    if (Full_Picbuf.HasPicture()) QGuiApplication::clipboard()->setImage(Full_Picbuf.image());
}

}  // namespace velda
