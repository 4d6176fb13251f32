#include "ui/prompter.h"

#include <QColorDialog>

#include <QInputDialog>
#include <QLineEdit>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include "batch/messages.h"

namespace velda {

bool DialogPrompter::Message(const QString& text, Icon icon, Buttons buttons) {
    QMessageBox box(parent_);
    box.setWindowTitle(messages::kTitle);
    // Message texts use a carriage return for a new line.
    box.setText(QString(text).replace(u'\r', u'\n'));
    switch (icon) {
        case Icon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::Critical:
            box.setIcon(QMessageBox::Critical);
            break;
        case Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // A question needs the normal pointer, whatever work is under way.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int answer = box.exec();
    QApplication::restoreOverrideCursor();
    return buttons == Buttons::Ok || answer == QMessageBox::Yes;
}

QStringList QtFilters(const QString& filters) {
    const QStringList parts = filters.split(u'|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) continue;
        QString pattern = parts[i + 1];
        if (pattern == u"*.*") {
            pattern = QStringLiteral("*");
        } else {
            // Several patterns are separated by ";"; Qt wants blanks, and
            // each in both letter cases on a system that tells them apart.
            QStringList each;
            for (const QString& p : pattern.split(u';', Qt::SkipEmptyParts))
                each << p << p.toLower();
            each.removeDuplicates();
            pattern = each.join(u' ');
        }
        QString description = parts[i];
        description.replace(QRegularExpression(QStringLiteral("\\(.*\\)")),
                            QStringLiteral("(") + pattern + u')');
        out.append(description);
    }
    return out;
}

std::optional<QString> DialogPrompter::OpenFile(const QString& title, const QString& dir,
                                                const QString& filters) {
    QFileDialog dialog(parent_, title, dir);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, true);
    dialog.setNameFilters(QtFilters(filters));
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    QApplication::restoreOverrideCursor();
    if (!chosen) return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

std::optional<QColor> DialogPrompter::PickColour(const QColor& initial) {
    const QColor c = QColorDialog::getColor(initial, parent_, QStringLiteral("Text colour"));
    if (!c.isValid()) return std::nullopt;
    return c;
}

std::optional<QString> DialogPrompter::AskText(const QString& question, const QString& initial) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_, QStringLiteral("Velda Watermarking System"),
                                               question, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

}  // namespace velda
