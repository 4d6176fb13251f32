#pragma once

#include <QMainWindow>

#include "ui/app_state.h"
#include "ui/control_panel.h"
#include "ui/prompter.h"

class QMdiArea;
class QMdiSubWindow;
class QMenu;

class QDockWidget;
class QLabel;

namespace velda {

class ResultWindow;

// The main frame: the control panel and the result window as child
// windows, the active child's menu shown in the frame's menu bar.
class MainWindow : public QMainWindow, public PanelHost {
    Q_OBJECT
  public:
    MainWindow(AppState& state, Prompter& prompter);
    ~MainWindow() override;

    ControlPanel* panel() const { return panel_; }
    QMdiArea* area() const { return area_; }

    QString Caption() const override { return windowTitle(); }
    void SetCaption(const QString& caption) override { setWindowTitle(caption); }
    ResultWindow* Result() override;
    ResultWindow* ExistingResult() const override { return result_; }
    void ShowResult(const QRect& geometry, const QString& caption) override;
    void CloseResult() override;
    int WorkAreaWidth() const override;
    void About() override;
    void Help() override;
    void ExitProgram() override;
    void PanelResized() override;

  protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QLabel* zoom_;  // the picture's scale, in the status line
    QDockWidget* layoutDock_;
    // The Layout panel as wide as the room the control panel leaves.
    void FitDockBesidePanel();
    void ShowMenusOf(QMdiSubWindow* window);
    void ForgetResult();

    AppState& state_;
    Prompter& prompter_;
    QMdiArea* area_;
    ControlPanel* panel_;
    QMdiSubWindow* panelWindow_;
    ResultWindow* result_ = nullptr;
    QMdiSubWindow* resultWindow_ = nullptr;
    bool ending_ = false;
};

}  // namespace velda
