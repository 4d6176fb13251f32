#pragma once

#include <QWidget>

#include "settings/section_settings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;

namespace velda {

// The settings of the "Marks" section: how the watermark and the text fit
// each picture. Every control at its first value keeps the classic
// placement of the control panel.
class LayoutPanel : public QWidget {
    Q_OBJECT
  public:
    explicit LayoutPanel(QWidget* parent = nullptr);

    MarksSettings Settings() const;
    // Shows the settings; keys they lack go back to the first values.
    void SetSettings(const MarksSettings& settings);

    // Named after their keys.
    QDoubleSpinBox *WatermarkSize, *TextSize, *TileGap, *TileAngle;
    QComboBox *WatermarkSizeOf, *Anchor, *TextAnchor;
    QLineEdit *MarginX, *MarginY, *TextMarginX, *TextMarginY;
    QCheckBox *Tile, *TextShadow, *TextAutoTone;
    QSpinBox* TextOutline;

  signals:
    // Any setting changed, by the user or by SetSettings.
    void changed();
};

}  // namespace velda
