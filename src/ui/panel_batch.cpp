// The control panel's batch section: the run its settings describe,
// started and reported on.
#include "ui/control_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include "batch/messages.h"
#include "imaging/loaders.h"
#include "ui/file_lists.h"

namespace velda {

QList<std::pair<QRadioButton*, FormatId>> ControlPanel::OutputButtons() const {
    return {{TGAO, FormatId::Targa}, {TIFo, FormatId::Tiff},  {PCXO, FormatId::Pcx},
            {BMPO, FormatId::Bmp},   {GIFO, FormatId::Gif},   {JPGO, FormatId::Jpeg},
            {PNGO, FormatId::Png},   {WEBPO, FormatId::Webp}, {HEICO, FormatId::Heic},
            {AVIFO, FormatId::Avif}, {JXLO, FormatId::Jxl}};
}

void ControlPanel::OutputFormatChosen(FormatId id) {
    const FormatInfo& f = Format(id);
    bit8->setEnabled(f.writes(8));
    bit4->setEnabled(f.writes(4));
    if ((bit8->isChecked() && !f.writes(8)) || (bit4->isChecked() && !f.writes(4)))
        bit24->setChecked(true);
}

std::shared_ptr<BatchJob> ControlPanel::MakeBatchJob() {
    // The same mapping from settings to a job as velda-batch's, so one
    // velda.ini gives one result in both; the pictures are those loaded.
    auto job = std::make_shared<BatchJob>();
    JobFromSettings(FormSettings(), job.get());
    if (!wfile->text().trimmed().isEmpty()) {
        job->watermark = Waterm_Picbuf.picture();
        job->mask = Mask_Picbuf.picture();
    }
    PrepareMarks(job.get());
    QString problem;
    if (!LoadStackMarkFiles(job.get(), &problem).ok()) {
        prompter_.Message(problem, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return nullptr;
    }
    for (const auto& [button, option] : OutputButtons()) {
        if (button->isChecked()) {
            job->output = option;
            break;
        }
    }
    job->depth = bit24->isChecked() ? 24 : bit8->isChecked() ? 8 : bit4->isChecked() ? 4 : 24;
    // An invisible mark asked for is carried, or the batch does not start.
    // (the panel need not be shown for its payload to count)
    QString invisible = layout_->PayloadRefused();
    if (invisible.isEmpty()) invisible = InvisibleProblem(*job);
    if (!invisible.isEmpty()) {
        prompter_.Message(invisible, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return nullptr;
    }
    // The panel's LEAD keeps its resolution when the text names none.
    batchPhotoCdResolution_ =
        PhotoCdResolutionFromText(pcdbase->currentText(), batchPhotoCdResolution_);
    job->photoCdResolution = batchPhotoCdResolution_;
    return job;
}

void ControlPanel::ChooseBatchFiles(const QStringList& paths) {
    if (paths.isEmpty()) return;
    const QFileInfo first(paths.first());
    if (first.isDir()) {
        InputDir->setPath(first.absoluteFilePath());
        InputDrive->ShowDriveOf(InputDir->path());
        return;
    }
    const QString folder = first.absolutePath();
    InputDir->setPath(folder);
    InputDrive->ShowDriveOf(folder);
    QStringList names;
    for (const QString& p : paths) {
        if (QFileInfo(p).absolutePath() == folder) names.append(QFileInfo(p).fileName());
    }
    // Files of a kind the list hides are shown, so that they can be chosen.
    auto select = [&] {
        int found = 0;
        InputFile->clearSelection();
        for (int i = 0; i < InputFile->count(); ++i) {
            QListWidgetItem* item = InputFile->item(i);
            const bool chosen = names.contains(item->text(), Qt::CaseInsensitive);
            item->setSelected(chosen);
            found += chosen ? 1 : 0;
        }
        return found;
    };
    if (select() < names.size() && !All_Option->isChecked()) {
        All_Option->click();
        select();
    }
}

void ControlPanel::Start_Click() {
    if (BatchRunning()) return;
    SaveSettings();
    if (!ParseResizeTarget(ResizeBox->text())) {
        prompter_.Message(tr("Resize takes long:N, short:N, width:N, height:N or fit:WxH, for "
                             "example long:2048"),
                          Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return;
    }
    if (const QString problem = ExtraResultsProblem(FormSettings()); !problem.isEmpty()) {
        prompter_.Message(problem, Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return;
    }
    if (wfile->text().trimmed().isEmpty() && CopyText->toPlainText().trimmed().isEmpty() &&
        layout_->Stack().empty() &&
        !prompter_.Message(messages::kNothingToApply, Prompter::Icon::Question,
                           Prompter::Buttons::YesNo)) {
        return;
    }
    // A snapshot: the run reads nothing of the window while it lasts.
    std::shared_ptr<const BatchJob> job = MakeBatchJob();
    if (!job) return;
    BatchRequest request;
    // The boxes' paths are trimmed of the blanks a typed path picks up; the
    // run then checks and uses these very names.
    request.inputDir = InputFile->path().trimmed();
    request.outputDir = OutputDir->path().trimmed();
    request.tree = SubCheck->isChecked();
    request.files = InputFile->SelectedNames();
    request.listed = InputFile->count();
    request.deleteSources = delete_files->isChecked();
    request.keepTree = KeepTree->isChecked();
    // A tree is counted on the batch's thread, after its checks.
    request.countTree = true;

    batchProgress->setRange(0, 1);
    batchProgress->setValue(0);
    Start->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    batch_.Start(job, request, Compress_Number, batchProgress,
                 [this](int processed) { BatchFinished(processed); });
}

void ControlPanel::BatchFinished(int processed) {
    QApplication::restoreOverrideCursor();
    Start->setEnabled(true);
    Command3D1->setEnabled(true);
    Compress_Number->clear();
    // A refused run ends with its refusal alone: no count, no full bar.
    if (!batch_.run().Started()) {
        batchProgress->setRange(0, 1);
        batchProgress->setValue(0);
        return;
    }
    if (batch_.run().StopRequested) {
        prompter_.Message(messages::StoppedSummary(batch_.run().Written()),
                          Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return;
    }
    batchProgress->setValue(batchProgress->maximum());
    prompter_.Message(batch_.Report(processed), Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
}

void ControlPanel::Command3D1_Click() {
    if (!BatchRunning()) return;
    batch_.Stop();
    // At once: the files under way are finished first, which takes a
    // moment with large ones.
    Compress_Number->setText(messages::kStopping);
    Command3D1->setEnabled(false);
}

void ControlPanel::StopBatchAndWait() {
    batch_.StopAndWait();
}

}  // namespace velda
