#pragma once

#include <QDialog>
#include <functional>

#include "imaging/formats.h"

#include "imaging/jpeg_remark.h"
#include "ui/app_state.h"
#include "ui/prompter.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QScrollBar;

namespace velda {

class DirectoryList;
class DriveList;
class FileListBox;
class Picbuf;
class Lead;

// "Save Current Image As...": where and how the result is saved. It writes
// no picture; Ok fills the SaveRequest record for SaveResultAs.
class SaveAsDialog : public QDialog {
    Q_OBJECT
  public:
    // loadedFile: the picture being worked on, which a save must never
    // replace unasked; its folder is where the dialog first opens.
    SaveAsDialog(AppState& state, Prompter& prompter, const QString& loadedFile = QString(),
                 QWidget* parent = nullptr);

    QGroupBox *Frame3D3, *Frame3D4, *Frame3D1, *Frame3D2;
    DriveList* FileDrive;
    DirectoryList* FileDir;
    FileListBox* FileList;
    QLineEdit* File;
    QRadioButton *tga_option, *JPG_Option, *TIF_Option, *Bmp_Option, *PCX_Option, *GIF_Option,
        *PNG_Option, *WEBP_Option, *HEIC_Option, *AVIF_Option, *JXL_Option, *FIF_option;
    QRadioButton *bit24, *bit8, *bit4;
    QScrollBar* jpegval;
    QLabel* jval;  // the quality's number
    QPushButton *Ok_Button, *Cancel_Button;
    // Writes the file Ok asked for; false (having said why) keeps the
    // dialog open to choose again. None: Ok only fills the request.
    std::function<bool()> save;

    void Ok_Button_Click();
    void Cancel_Button_Click();
    // Chooses the depth where the format holds it, else the nearest one
    // it does.
    void ChooseDepth(int depth);

  protected:
    void done(int result) override;

  private:
    void LoadSaveAsSettings();
    void SaveSaveAsSettings();
    void FormatClicked(QRadioButton* option);
    // The name box's suggestion: the picture's name, the format's ending.
    void SuggestName();
    QList<std::pair<QString, QRadioButton*>> ExtraFormats() const;
    QList<std::pair<QRadioButton*, FormatId>> FormatButtons() const;

    AppState& state_;
    Prompter& prompter_;
    QString loadedFile_;
    bool saved_ = false;
};

// Saves the result window's picture: asks with the dialog (its depth preset
// from the picture), converts a copy of the shown picture to the chosen
// depth and writes it; a failure says "Error saving image. Error: N" and
// what N means. The shown picture stays as it is.
// With the LosslessJpeg option, a JPEG saved from a loaded JPEG is the
// loaded file with marks redrawn into only the blocks under them;
// loadedMarks are the marks that make full from it (null: full is no such
// picture, and is encoded whole). A picture with an invisible mark
// (invisibleMarked) is not written with a palette, which would lose it.
// Returns the file written, or nothing when none was.
QString SaveResultAs(const Picbuf& full, AppState& state, Prompter& prompter,
                     const QString& loadedFile, QWidget* parent,
                     const RegionMarks* loadedMarks = nullptr, bool invisibleMarked = false);

}  // namespace velda
