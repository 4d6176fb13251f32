#pragma once

#include <QString>
#include <QStringList>

#include "batch/batch_job.h"
#include "batch/batch_run.h"

namespace velda::cli {

// What the command line asks for, or why it cannot be run.
struct CliRequest {
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool listPresets = false;
    QStringList presets;      // the settings file's presets, for --list-presets
    QStringList verifyFiles;  // --verify: the pictures to look for a mark in
    BatchRequest batch;
    BatchJob job;
    WatermarkSettings settings;
    bool nothingToApply = false;  // neither a watermark nor text
};

// Parses the arguments (without the program name) and loads the settings
// and pictures they name. On failure, *error is the one-line reason.
bool ParseArguments(const QStringList& args, CliRequest* out, QString* error);

QString HelpText();

}  // namespace velda::cli
