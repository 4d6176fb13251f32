#pragma once

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <thread>

#include "batch/batch_run.h"
#include "imaging/lead.h"
#include "imaging/loaders.h"
#include "imaging/picbuf.h"
#include "ui/app_state.h"
#include "ui/batch_controller.h"
#include "ui/layout_panel.h"
#include "ui/prompter.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QToolButton;

namespace velda {

class ResultWindow;
class DriveList;
class DirectoryList;
class FileListBox;

// What the control panel needs of the frame around it.
class PanelHost {
  public:
    virtual ~PanelHost() = default;
    virtual QString Caption() const = 0;
    virtual void SetCaption(const QString& caption) = 0;
    // The result window, created on first use.
    virtual ResultWindow* Result() = 0;
    virtual ResultWindow* ExistingResult() const = 0;
    // Places, sizes (pixels, inside the frame) and shows the result window.
    virtual void ShowResult(const QRect& geometry, const QString& caption) = 0;
    virtual void CloseResult() = 0;
    // Width of the frame's working area, in pixels.
    virtual int WorkAreaWidth() const = 0;
    virtual void About() = 0;
    virtual void Help() = 0;
    virtual void ExitProgram() = 0;
    // The panel changed its height (the batch section shown or hidden).
    virtual void PanelResized() {}
};

// The control panel: the three pictures, the watermark's place and
// transparency, the text, and the batch section below.
class ControlPanel : public QWidget {
    Q_OBJECT
  public:
    ControlPanel(AppState& state, Prompter& prompter, PanelHost& host, QWidget* parent = nullptr);
    ~ControlPanel() override;

    // Start-up: fills the lists, sets the form's values and reads the
    // settings, reloading the remembered pictures.
    void Form_Load();
    // Height in twips, as the batch section's toggle knows it.
    int HeightTwips() const { return heightTwips_; }
    QList<QMenu*> menus() const { return {fileMenu_, viewMenu_, optionsMenu_}; }
    // The Layout panel's settings ("Marks"); the frame shows it beside
    // the panel.
    LayoutPanel* Layout() const { return layout_; }

    // The picture loaders with their captions and messages.
    bool LoadMainFile(const QString& fileName);
    void LoadWatermarkFile(const QString& fileName);
    void LoadTemplateFile(const QString& fileName);
    void BrowseMainFile(const QString& path);
    void BrowseWatermarkFile(const QString& path);
    void BrowseTemplateFile(const QString& path);

    void LoadSettings();
    void SaveSettings();
    // The form's values as the settings file holds them.
    WatermarkSettings PanelSettings() const;
    OutputSettings OutputPanelSettings() const;
    // Every setting the form holds, as a run takes them.
    JobSettings FormSettings() const;
    // What a batch started now would do.
    std::shared_ptr<BatchJob> MakeBatchJob();
    // The output format buttons, in the order in which the first checked wins.
    QList<std::pair<QRadioButton*, FormatId>> OutputButtons() const;

    Picbuf Waterm_Picbuf;
    Picbuf Mask_Picbuf;
    Picbuf Batch_Picbuf;
    Lead LEAD;

    // Controls, named as everywhere else in the program.
    QGroupBox *MainForm, *Frame3D2, *Frame3D1, *Frame3D6, *Frame3D4, *Frame3D3, *Frame3D7,
        *Frame3D5, *SSFrame1, *Frame3D9;
    QLineEdit *ofile, *wfile, *tfile, *wx, *wy, *Textclr, *tx, *ty, *ts;
    QPushButton *origbrw, *waterbrw, *templbrw, *ApplyStuff, *Start, *Command3D1;
    QRadioButton *ipix, *Iper, *tpix, *tper;
    QRadioButton *All_Option, *FIF_option, *JPG_Option, *GIF_Option, *tga_option, *TIF_Option,
        *PCX_Option, *Bmp_Option, *Option3D1;
    QRadioButton *TGAO, *JPGO, *TIFo, *BMPO, *PCXO, *GIFO, *PNGO, *WEBPO, *HEICO, *AVIFO, *JXLO,
        *bit24, *bit8, *bit4;
    QCheckBox *centre, *SubCheck, *delete_files, *KeepTree;
    QToolButton* TextclrSwatch;
    QLineEdit *ResizeBox, *NameBox;  // the [Output] keys Resize and NameTemplate
    QScrollBar *mixvalue, *jpegval;
    QLabel *tval, *jval, *Compress_Number, *FileCount;
    QPushButton *SelectAll, *SelectNone;
    QPlainTextEdit* CopyText;
    QComboBox *wmfont, *pcdbase;
    DriveList *InputDrive, *OutputDrive;
    DirectoryList *InputDir, *OutputDir;
    FileListBox* InputFile;
    QProgressBar* batchProgress;
    QAction *batch_mnu, *about_mnu, *help_mnu, *exit_mnu, *keepmeta_mnu, *lossless_mnu, *layout_mnu,
        *livepreview_mnu, *savepreset_mnu;
    QMenu* presetMenu;
    QAction* open_mnu;
    QAction* checkmark_mnu;
    QMenu* recentMenu;
    // The actions of the program as a whole, in the order of a File menu,
    // for every window's menus.
    QList<QAction*> ProgramActions() const;

    // Opens a picture to watermark as the box does (File > Open, a recent
    // file, a drop): its name in the box, loaded, remembered as recent.
    bool OpenPicture(const QString& fileName);
    // The batch's input: a folder, or files of one folder, selected.
    void ChooseBatchFiles(const QStringList& paths);

    // Stops a batch under way between files and waits for the files in
    // progress, so none is left half done.
    void StopBatchAndWait();
    bool BatchRunning() const { return batch_.Running(); }
    const BatchRun& batchRun() const { return batch_.run(); }

  public slots:
    void Start_Click();
    void Command3D1_Click();
    void ApplyStuff_Click();
    void batch_mnu_Click();
    void mixvalue_Change();
    void jpegval_Change();
    void centre_Click();
    void tfile_Change();
    void wfile_Change();
    // Draws the marks again on the shown picture a moment after the last
    // change of a mark's setting, without the Apply button.
    void SchedulePreview();
    // The marks drawn on the shown picture now, when the preview is on.
    void PreviewNow();
    // File menu: the settings as a named preset, and a preset as the
    // settings.
    void SavePresetAs();
    // Says whether the picture to watermark, as it was opened, carries an
    // invisible mark, and its payload.
    void CheckInvisibleMark();
    void LoadPreset(const QString& name);
    bool PreviewPending() const { return previewTimer_.isActive(); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Tab from the panel's last control goes on into the Layout panel,
    // which the panel's frame would otherwise keep it from.
    bool focusNextPrevChild(bool next) override;

  private:
    void BuildUpperPart();
    void BuildBatchSection();
    // Depths the chosen output format cannot write are not offered.
    void OutputFormatChosen(FormatId id);
    void BuildMenu();
    void BuildKeyboard();
    void SetTabOrder();
    void SetHeightTwips(int twips);
    // Runs a loader with the main window's caption set to status meanwhile.
    // A browse routine: a typed path is loaded as it is (trimmed where
    // trimTyped); an empty one asks with the file dialog first.
    void Browse(const QString& path, bool trimTyped, const QString& filters, QLineEdit* box,
                void (ControlPanel::*load)(const QString&));
    void LoadMainFileQuietly(const QString& fileName) { LoadMainFile(fileName); }
    template <class F>
    auto WithStatus(const QString& status, F&& load);
    // A watermark or template load: silent when the file is missing, a
    // message when it fails.
    void LoadMark(const QString& fileName, Picbuf& target, const QString& status,
                  const std::function<LoadOutcome(Status*)>& load,
                  const std::function<void()>& commit,
                  QString (*message)(const QString&, const Status&));
    bool loading_ = false;  // a picture is being loaded off the window thread

    AppState& state_;
    Prompter& prompter_;
    PanelHost& host_;
    QMenu* fileMenu_;
    QMenu* viewMenu_;
    QMenu* optionsMenu_;
    int heightTwips_ = 2520;
    BatchController batch_;
    int batchPhotoCdResolution_ = kPhotoCdBase;
    void BatchFinished(int processed);
    // Draws the marks as set now onto the picture as loaded.
    void ApplyMarksToResult(ResultWindow* result);
    // The classic placement controls take part only where no anchor,
    // tiling or relative size stands in for them.
    void SyncClassicControls();
    QPointer<LayoutPanel> layout_;
    // The file's [Output] keys that no control shows, kept as they were.
    OutputSettings fileOutput_;
    // Its further results' sections, which the batch section runs as they are.
    std::map<int, ExtraOutputSettings> fileExtraOutputs_;
    QTimer previewTimer_;
    bool startingUp_ = true;  // no preview until Form_Load is done
};

}  // namespace velda
