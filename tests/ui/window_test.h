// The desktop program under test, headless: its questions answered from a
// script, its settings in a folder of its own.
#pragma once

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>

#include "app/main_window.h"
#include "ui/prompter.h"

namespace velda {

class ScriptedPrompter : public Prompter {
  public:
    bool Message(const QString& text, Icon icon, Buttons) override {
        shown.append(text);
        icons.append(icon);
        if (onMessage) onMessage(text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    std::optional<QString> OpenFile(const QString& title, const QString& dir,
                                    const QString& filters) override {
        dialogs.append(title + u'|' + dir + u'|' + filters.section(u'|', 0, 0));
        lastFilters = QtFilters(filters);
        if (files.isEmpty()) return std::nullopt;
        return files.takeFirst();
    }
    std::optional<QString> AskText(const QString&, const QString&) override { return typed; }
    std::optional<QColor> PickColour(const QColor&) override { return colour; }

    QStringList shown, dialogs;
    QStringList lastFilters;  // the last open dialog's file types
    QList<Icon> icons;
    QList<bool> answers;                  // Yes or No, in turn; Yes when none is left
    QList<std::optional<QString>> files;  // chosen in the open dialogs, in turn
    std::optional<QString> typed;         // the text asked for
    std::optional<QColor> colour;         // picked in the colour dialog
    std::function<void(const QString&)> onMessage;
};

class WindowTest : public QObject {
  protected:
    // Starts the program as a user does, its settings read from velda.ini
    // in the test's folder; the prompter keeps what it was shown.
    void Start() {
        main_.reset();
        state_ = AppState();
        state_.settingsPath = dir_.filePath(QStringLiteral("velda.ini"));
        main_ = std::make_unique<MainWindow>(state_, prompter_);
        main_->resize(1400, 900);
        main_->show();
        panel()->Form_Load();
        panel()->mixvalue->setValue(state_.MixLevel);
    }
    ControlPanel* panel() { return main_->panel(); }
    static QByteArray ReadAll(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void WriteAll(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(bytes);
    }

    QTemporaryDir dir_;
    AppState state_;
    ScriptedPrompter prompter_;
    std::unique_ptr<MainWindow> main_;
};

}  // namespace velda
