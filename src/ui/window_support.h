#pragma once

#include <QApplication>
#include <QString>

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

// The Open dialogs' list of file types, from the format table: "All
// Files", every picture we read in one entry, then each format under its
// own name with every spelling of its ending.
QString OpenFilters();

}  // namespace velda
