#pragma once

#include <QColor>
#include <QGroupBox>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "settings/section_settings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace velda {

// One further mark's section, a picture's or a text's: each control
// named after its key, those of the other kind hidden.
class MarkEditor : public QGroupBox {
    Q_OBJECT
  public:
    explicit MarkEditor(QWidget* parent = nullptr);
    StackMarkSettings Values() const;
    void SetValues(const StackMarkSettings& values);
    bool IsText() const { return text_; }
    // Asks for a picture file (the Browse button); nothing when cancelled.
    std::function<std::optional<QString>(const QString& current)> pickPicture;
    // Asks for a colour (a swatch); nothing when cancelled.
    std::function<std::optional<QColor>(const QColor& current)> pickColour;

    QLineEdit *File, *Text, *Colour, *MarginX, *MarginY, *Box;
    QPushButton* Browse;
    QToolButton *ColourSwatch, *BoxSwatch;
    QCheckBox *Bold, *Tile, *Shadow, *AutoTone;
    QComboBox *Font, *Align, *SizeOf, *Anchor, *Blend, *Orientation;
    QDoubleSpinBox *Size, *TileGap, *TileAngle, *Rotate, *Opacity, *BoxOpacity;
    QSpinBox *Outline, *BoxPadding;

  signals:
    void changed();

  private:
    void Sync();
    // The controls that hold a key, by its name.
    std::vector<std::pair<QString, QWidget*>> keys_;
    std::vector<QWidget*> pictureRows_, textRows_;  // shown for one kind
    std::vector<QWidget*> pictureKeys_, textKeys_;  // written for one kind
    bool text_ = false;
    bool setting_ = false;
};

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
    // The further marks, numbered from 2 in the list's order.
    std::map<int, StackMarkSettings> Stack() const;
    // The invisible mark: its payload (empty: none) and strength.
    InvisibleSettings Invisible() const;
    void SetInvisible(const InvisibleSettings& settings);
    // Why the payload typed cannot be carried, or nothing.
    QString PayloadRefused() const;
    void SetStack(const std::map<int, StackMarkSettings>& stack);
    // Why a mark of the stack cannot be drawn (a file that does not load),
    // or nothing: shown under the list.
    void SetStackProblem(const QString& problem);

    // Named after their keys.
    QDoubleSpinBox *WatermarkSize, *TextSize, *TileGap, *TileAngle;
    QComboBox *WatermarkSizeOf, *Anchor, *TextAnchor;
    QLineEdit *MarginX, *MarginY, *TextMarginX, *TextMarginY;
    QCheckBox *Tile, *TextShadow, *TextAutoTone;
    QSpinBox* TextOutline;
    // The marks: the watermark and text first, then the stack.
    QListWidget* MarkList;
    QPushButton *AddPicture, *AddText, *RemoveMark, *MarkUp, *MarkDown;
    MarkEditor* Editor;
    QLabel* StackProblem;
    QLineEdit* Payload;
    QSpinBox* Strength;
    QLabel* PayloadProblem;

  signals:
    // Any setting changed, by the user or by SetSettings.
    void changed();

  private:
    void ShowChosen();
    void Refill(int chosen);
    static QString Caption(const StackMarkSettings& mark);
    QWidget *classicMark_, *classicText_;
    std::vector<StackMarkSettings> stack_;
};

}  // namespace velda
