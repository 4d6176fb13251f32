#include "ui/result_window.h"

#include <QActionGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace velda {

PictureView::PictureView(const Picbuf& picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureView::PictureChanged() {
    if (!fit_) resize(image().size());
    updateGeometry();
    update();
}

void PictureView::setFit(bool fit) {
    fit_ = fit;
    if (!fit_) resize(image().size());
    updateGeometry();
    update();
}

QSize PictureView::sizeHint() const {
    return image().size();
}

void PictureView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    const QImage& img = image();
    if (img.isNull()) return;
    if (!fit_) {
        const QRect r = event->rect() & img.rect();
        painter.drawImage(r.topLeft(), img, r);
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
}

void ResultWindow::ShowFitted(bool fit) {
    (fit ? fit_ : actual_)->setChecked(true);
    scroll_->setWidgetResizable(fit);
    view_->setFit(fit);
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
