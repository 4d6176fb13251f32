#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDockWidget>
#include <QLabel>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QUrl>

#include "app/splash.h"
#include "ui/result_window.h"
#include "ui/save_dialog.h"
#include "ui/window_support.h"

namespace velda {

MainWindow::MainWindow(AppState& state, Prompter& prompter) : state_(state), prompter_(prompter) {
    setObjectName(QStringLiteral("MainMDI"));
    area_ = new QMdiArea(this);
    area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(area_);

    panel_ = new ControlPanel(state_, prompter_, *this);
    // A close box that does what closing the panel does: keep the settings
    // and end the program (the frame draws it only with a system menu).
    panelWindow_ =
        area_->addSubWindow(panel_, Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                        Qt::WindowCloseButtonHint);
    panelWindow_->setWindowTitle(tr("Velda control panel"));
    // The Layout panel stands beside the working area, where no picture
    // window can cover it; the panel's Options menu shows and hides it.
    auto* layout = new QDockWidget(tr("Layout"), this);
    layout->setObjectName(QStringLiteral("layout_dock"));
    layout->setFeatures(QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    // In a scroll area: on a small screen, or at a large scale, the panel
    // takes the room the control panel leaves and scrolls down.
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("layout_scroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(panel_->Layout());
    layout->setWidget(scroll);
    addDockWidget(Qt::RightDockWidgetArea, layout);
    layoutDock_ = layout;
    connect(panel_->layout_mnu, &QAction::toggled, layout, &QDockWidget::setVisible);
    connect(area_, &QMdiArea::subWindowActivated, this, &MainWindow::ShowMenusOf);
    zoom_ = new QLabel;
    zoom_->setObjectName(QStringLiteral("zoom_status"));
    statusBar()->addPermanentWidget(zoom_);
    // A picture dropped on the working area is the one to watermark.
    new FileDrop(area_->viewport(),
                 [this](const QStringList& f) { panel_->OpenPicture(f.first()); });
    panelWindow_->show();
    ShowMenusOf(panelWindow_);
}

MainWindow::~MainWindow() {
    // The children go after this object's own parts: nothing of theirs may
    // call back into it on the way out.
    disconnect(area_, nullptr, this, nullptr);
    if (result_) disconnect(result_, nullptr, this, nullptr);
}

void MainWindow::ShowMenusOf(QMdiSubWindow* window) {
    menuBar()->clear();
    // Each window's own items, and the program's in every window: Batch,
    // presets, the Layout panel, Help and Exit are never out of reach.
    QList<QMenu*> menus = panel_->menus();
    if (window && window == resultWindow_) menus = result_->menus() << panel_->menus().back();
    for (QMenu* m : menus)
        menuBar()->addMenu(m);
}

ResultWindow* MainWindow::Result() {
    if (!result_) {
        result_ = new ResultWindow;
        new FileDrop(result_, [this](const QStringList& f) { panel_->OpenPicture(f.first()); });
        resultWindow_ = area_->addSubWindow(result_);
        resultWindow_->setAttribute(Qt::WA_DeleteOnClose);
        resultWindow_->resize(0, 0);
        // The preview is switched where the picture is looked at, too.
        QMenu* view = result_->menus().back();
        view->addSeparator();
        view->addAction(panel_->livepreview_mnu);
        QMenu* file = result_->menus().front();
        file->addSeparator();
        for (QAction* a : panel_->ProgramActions()) {
            if (a == panel_->exit_mnu) file->addSeparator();
            file->addAction(a);
        }
        // Forgotten as soon as it closes, so the next use makes a new one
        // even before this one is deleted.
        connect(result_, &ResultWindow::closing, this, &MainWindow::ForgetResult);
        connect(result_, &ResultWindow::fitChosen, this,
                [this](bool fit) { state_.FitToWindow = fit; });
        // The scale shown, in the status line: the window's title is the
        // picture's own.
        connect(result_, &ResultWindow::zoomChanged, this,
                [this](int percent) { zoom_->setText(tr("Zoom %1 %").arg(percent)); });
        // A change made a moment ago is drawn before the picture leaves.
        result_->BeforeUse = [this] {
            if (panel_->PreviewPending()) panel_->PreviewNow();
        };
        connect(result_, &ResultWindow::saveRequested, this, [this] {
            result_->BeforeUse();
            const QString saved =
                SaveResultAs(result_->Full_Picbuf, state_, prompter_, result_->Copy_Picbuf.FileName,
                             this, result_->InvisibleMarked ? nullptr : &result_->AppliedMarks,
                             result_->InvisibleMarked);
            if (!saved.isEmpty()) statusBar()->showMessage(tr("Saved %1").arg(saved), 20000);
            result_->Refresh();
        });
    }
    return result_;
}

void MainWindow::ShowResult(const QRect& geometry, const QString& caption) {
    Result();
    resultWindow_->setWindowTitle(caption);
    // A picture larger than the frame shows from its top-left corner, with
    // scroll bars, inside a window that fits.
    const QSize frame = resultWindow_->size() - resultWindow_->contentsRect().size();
    const QRect work = area_->viewport()->rect();
    QRect r(geometry.topLeft(), geometry.size() + frame);
    r.setLeft(std::max(0, r.left()));
    r.setWidth(std::min(geometry.width() + frame.width(), work.width()));
    r.setHeight(std::min(r.height(), std::max(work.height() - r.top(), 100)));
    resultWindow_->setGeometry(r);
    resultWindow_->show();
    // A picture larger than its window opens whole, fitted to it, unless
    // the user has chosen actual size; either is one click away in View.
    const bool larger = r.width() < geometry.width() + frame.width() ||
                        r.height() < geometry.height() + frame.height();
    result_->ShowFitted(larger && state_.FitToWindow);
    area_->setActiveSubWindow(resultWindow_);
}

void MainWindow::FitDockBesidePanel() {
    // The control panel whole in the working area and the Layout panel as
    // wide as its controls beside it; where the screen holds less (the
    // form alone is 891 of a 1600-pixel screen's 1067 points at 150 %),
    // the control panel stays whole and the Layout panel scrolls.
    auto* scroll = static_cast<QScrollArea*>(layoutDock_->widget());
    const int need = panel_->Layout()->minimumSizeHint().width() +
                     scroll->verticalScrollBar()->sizeHint().width() + 4;
    const int room = width() - panelWindow_->frameGeometry().width() - 12;
    const int dock = std::clamp(room, 120, need);
    layoutDock_->setMinimumWidth(dock);
    layoutDock_->setMaximumWidth(room >= need ? QWIDGETSIZE_MAX : dock);
    resizeDocks({layoutDock_}, {dock}, Qt::Horizontal);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FitDockBesidePanel();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (isVisible()) FitDockBesidePanel();
}

void MainWindow::PanelResized() {
    // The picture below the panel, where the panel cannot cover it.
    if (!resultWindow_) return;
    const int top = panelWindow_->geometry().bottom() + 6;
    QRect r = resultWindow_->geometry();
    if (r.top() >= top) return;
    r.moveTop(top);
    r.setHeight(std::max(100, std::min(r.height(), area_->viewport()->height() - top)));
    resultWindow_->setGeometry(r);
}

void MainWindow::CloseResult() {
    if (resultWindow_) resultWindow_->close();
}

void MainWindow::ForgetResult() {
    if (!resultWindow_) return;
    area_->removeSubWindow(resultWindow_);
    resultWindow_->deleteLater();
    result_ = nullptr;
    resultWindow_ = nullptr;
    zoom_->clear();
    ShowMenusOf(area_->activeSubWindow());
}

int MainWindow::WorkAreaWidth() const {
    return area_->viewport()->width();
}

void MainWindow::About() {
    Splash about(this);
    about.exec();
}

void MainWindow::Help() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QApplication::applicationDirPath() + QStringLiteral("/velda.htm")));
    QApplication::restoreOverrideCursor();
}

void MainWindow::ExitProgram() {
    // Ends at once: no window's closing runs and nothing is saved; only a
    // batch under way is stopped between files first.
    panel_->StopBatchAndWait();
    ending_ = true;
    QApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    panel_->StopBatchAndWait();
    if (!ending_) {
        panel_->SaveSettings();
        ending_ = true;
    }
    event->accept();
    QApplication::exit(0);
}

}  // namespace velda
