#pragma once

#include <QApplication>
#include <QObject>
#include <QScrollBar>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace velda {

// The busy pointer for as long as the object lives: every way out of a
// handler puts the normal pointer back.
class BusyCursor {
  public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Takes local files dropped on a widget, in place of what the widget would
// do with them (a text box would paste their address into its text).
class FileDrop : public QObject {
  public:
    FileDrop(QWidget* target, std::function<void(const QStringList&)> dropped);
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    std::function<void(const QStringList&)> dropped_;
};

// A slider that shows when it has the keyboard (the platform's style draws
// no focus on a scroll bar): the arrow keys then move it.
class FocusScrollBar : public QScrollBar {
  public:
    using QScrollBar::QScrollBar;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The Open dialogs' list of file types, from the format table: "All
// Files", every picture we read in one entry, then each format under its
// own name with every spelling of its ending.
QString OpenFilters();
// The same with every picture first (File > Open): what a user opens most.
QString PictureFilters();

}  // namespace velda
