#pragma once

#include <QColor>
#include <QString>
#include <optional>

class QWidget;

namespace velda {

// Every message box and file-open dialog of the program goes through here,
// so tests can answer questions and read what was shown.
class Prompter {
  public:
    enum class Icon { Exclamation, Critical, Question, Information };
    enum class Buttons { Ok, YesNo };
    virtual ~Prompter() = default;
    // True for Yes (and for Ok).
    virtual bool Message(const QString& text, Icon icon, Buttons buttons) = 0;
    // A file to open, or nothing when cancelled. filters is in the
    // "Description|pattern|..." form.
    virtual std::optional<QString> OpenFile(const QString& title, const QString& dir,
                                            const QString& filters) = 0;
    // A line of text (a preset's name), or nothing when cancelled.
    virtual std::optional<QString> AskText(const QString& question, const QString& initial) {
        (void)question, (void)initial;
        return std::nullopt;
    }
    // A colour from the platform's picker, or nothing when cancelled.
    virtual std::optional<QColor> PickColour(const QColor& initial) {
        (void)initial;
        return std::nullopt;
    }
};

// The real thing: QMessageBox and QFileDialog, titled
// "Velda Watermarking System".
class DialogPrompter : public Prompter {
  public:
    explicit DialogPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    bool Message(const QString& text, Icon icon, Buttons buttons) override;
    std::optional<QString> OpenFile(const QString& title, const QString& dir,
                                    const QString& filters) override;
    std::optional<QString> AskText(const QString& question, const QString& initial) override;
    std::optional<QColor> PickColour(const QColor& initial) override;

  private:
    QWidget* parent_;
};

// "All Files (*.*)|*.*|Targa (*.TGA)|*.TGA|" to Qt's "All Files (*)" list;
// patterns match in any letter case.
QStringList QtFilters(const QString& filters);

}  // namespace velda
