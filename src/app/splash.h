#pragma once

#include <QDialog>

class QLabel;

namespace velda {

// The splash window, shown while the control panel loads, and again as the
// About box until its picture is clicked.
class Splash : public QDialog {
    Q_OBJECT
  public:
    explicit Splash(QWidget* parent = nullptr);
    QLabel* titleImage;
    QLabel* SysTitle;
    QLabel* reg;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// The splash graphic, drawn rather than shipped as a file.
QPixmap SplashPicture(const QSize& size);

}  // namespace velda
