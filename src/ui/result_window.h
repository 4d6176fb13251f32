#pragma once

#include <functional>

#include <QScrollArea>
#include <QWidget>

#include "imaging/jpeg_remark.h"
#include "imaging/lead.h"
#include "imaging/picbuf.h"

class QAction;
class QMenu;

namespace velda {

// Paints a picture, at its own size or fitted into the view. Only the part
// that is exposed is drawn, straight from the picture's memory, so a
// 24-megapixel photograph repaints as fast as a small one.
class PictureView : public QWidget {
    Q_OBJECT
  public:
    // Shows the picture of a buffer, without holding a copy of it: the
    // buffer can then change its pixels in place.
    explicit PictureView(const Picbuf& picture, QWidget* parent = nullptr);
    // The picture has changed.
    void PictureChanged();
    void setFit(bool fit);
    bool fit() const { return fit_; }
    // Shown at this scale (1: actual size) when not fitted.
    void setZoom(double zoom);
    // The scale the picture shows at now, fitted or not.
    double shownScale() const;
    // Shows this picture instead (the one without marks), or the picture
    // again for nullptr.
    void showInstead(const Picbuf* other);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const QImage& image() const { return (instead_ ? *instead_ : picture_).image(); }
    const Picbuf& picture_;
    const Picbuf* instead_ = nullptr;
    bool fit_ = false;
    double zoom_ = 1;
};

// The result window: shows the picture to watermark and, after an apply,
// the result. Its View menu changes only what is shown; copying (and
// saving) always take the whole picture.
class ResultWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ResultWindow(QWidget* parent = nullptr);

    Picbuf Full_Picbuf;
    Picbuf Copy_Picbuf;
    Lead LEAD;
    // The marks of the last apply on Copy_Picbuf's picture (none since it
    // was loaded): Full_Picbuf is that picture with them.
    RegionMarks AppliedMarks;
    // The shown picture carries an invisible mark: no block of the loaded
    // JPEG is as it was, and no palette may be written.
    bool InvisibleMarked = false;
    // Called before the picture is copied or saved: brings it up to the
    // marks as they are set (a preview still waiting on its timer).
    std::function<void()> BeforeUse;

    // Shows Full_Picbuf's picture anew.
    void Refresh();
    // Fit to window, or actual size, as if chosen in the View menu.
    void ShowFitted(bool fit);
    QList<QMenu*> menus() const { return {fileMenu_, viewMenu_}; }
    PictureView* view() const { return view_; }
    QAction* fitAction() const { return fit_; }
    QAction* actualAction() const { return actual_; }
    QAction *zoomIn, *zoomOut, *showOriginal;
    // The next zoom step in or out from the scale shown now.
    void Zoom(int steps);

  public slots:
    void Copy_mnu_Click();

  signals:
    // Save As was chosen.
    void saveRequested();
    // The window is closing (its close box, or the program's own doing).
    void closing();
    // The user chose Fit to window (true) or Actual size (false).
    void fitChosen(bool fit);
    // The scale shown changed: a whole percent.
    void zoomChanged(int percent);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QScrollArea* scroll_;
    PictureView* view_;
    QMenu* fileMenu_;
    QMenu* viewMenu_;
    QAction* fit_;
    QAction* actual_;
};

}  // namespace velda
