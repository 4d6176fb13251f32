#pragma once

#include <QString>

namespace velda {

// The answer of the Save As dialog to the result window.
struct SaveRequestRecord {
    bool Confirmed = false;
    QString FileName;
    int FormatCode = 0;
    int Depth = 24;
    int JpegQuality = 75;
};

// The program-wide values, owned by the program and handed to its windows.
// The batch's StopRequested and ProcessedCount live on its run.
struct AppState {
    int MixLevel = 70;  // the transparency level, kept equal to mixvalue
    QString InitDir;    // where the picture file dialogs open
    SaveRequestRecord SaveRequest;
    QString settingsPath;       // velda.ini
    bool KeepMetadata = true;   // results keep the photo metadata of their sources
    bool LosslessJpeg = false;  // JPEG to JPEG re-encodes only the blocks under the marks
    bool FitToWindow = true;    // pictures larger than the result window open fitted to it
};

}  // namespace velda
