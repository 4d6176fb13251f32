#pragma once

#include <QDialog>

#include "ui/app_state.h"
#include "ui/prompter.h"

class QGroupBox;
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
    SaveAsDialog(AppState& state, Prompter& prompter, QWidget* parent = nullptr);

    QGroupBox *Frame3D3, *Frame3D4, *Frame3D1, *Frame3D2;
    DriveList* FileDrive;
    DirectoryList* FileDir;
    FileListBox* FileList;
    QLineEdit* File;
    QRadioButton *tga_option, *JPG_Option, *TIF_Option, *Bmp_Option, *PCX_Option, *GIF_Option,
        *FIF_option;
    QRadioButton *bit24, *bit8, *bit4;
    QScrollBar* jpegval;
    QPushButton *Ok_Button, *Cancel_Button;

    void Ok_Button_Click();
    void Cancel_Button_Click();

  protected:
    void done(int result) override;

  private:
    void LoadSaveAsSettings();
    void SaveSaveAsSettings();
    void FormatClicked(QRadioButton* option);

    AppState& state_;
    Prompter& prompter_;
    bool saved_ = false;
};

// Saves the result window's picture: asks with the dialog (its depth preset
// from the picture), converts the shown picture to the chosen depth and
// writes it; a failure says "Error saving image. Error: N".
void SaveResultAs(Picbuf& full, Lead& lead, AppState& state, Prompter& prompter, QWidget* parent);

}  // namespace velda
