// Answers the program's questions from a script and records what it was
// shown, in place of message boxes and file dialogs.
#pragma once

#include <QStringList>
#include <functional>

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
        if (files.isEmpty()) return std::nullopt;
        return files.takeFirst();
    }
    std::optional<QString> AskText(const QString&, const QString&) override { return typed; }

    QStringList shown, dialogs;
    QList<Icon> icons;
    QList<bool> answers;                  // Yes or No, in turn; Yes when none is left
    QList<std::optional<QString>> files;  // chosen in the open dialogs, in turn
    std::optional<QString> typed;         // the text asked for
    std::function<void(const QString&)> onMessage;
};

}  // namespace velda
