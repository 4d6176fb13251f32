#pragma once

#include <QDateTime>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

#include "imaging/metadata.h"
#include "settings/section_settings.h"

namespace velda {

// What a token stands for, or nothing for a token that means nothing.
using TokenLookup = std::function<std::optional<QString>(const QString& token)>;

// Replaces each {token} of text by its value; "{{" and "}}" write braces,
// and a token that means nothing is written as it stands.
QString ExpandTokens(const QString& text, const TokenLookup& lookup);

// Texts without an opening brace are written as they are.
inline bool HasTokens(const QString& text) {
    return text.contains(u'{');
}

// The facts of one file of a run that tokens can name.
struct FileFacts {
    QString path;
    int counter = 1;       // the file's place in the run, from 1
    MetadataPtr metadata;  // may be null
    QSize size;            // the picture's size, once known
};

// {name} the file name without extension, {date} the EXIF date taken as
// YYYY-MM-DD (else the file's modification date), {year}, {counter} (also
// {counter:N}, padded to N digits), {width}, {height} once the size is
// known, and any Exiv2 key such as {Exif.Image.Artist}.
TokenLookup FileTokens(const FileFacts& facts);

// The text with its tokens filled in from the file's facts.
inline QString ExpandFileTokens(const QString& text, const FileFacts& facts) {
    return HasTokens(text) ? ExpandTokens(text, FileTokens(facts)) : text;
}

// The name (without extension) a name template gives the result of one
// source: its tokens filled from the file (its size as the result will
// have it, after resize), characters no file name may hold replaced. A
// template that comes out empty gives the source's own name.
QString ResultStem(const QString& nameTemplate, const QString& sourcePath, int counter,
                   const ResizeTarget& resize);

}  // namespace velda
