// The control panel's pictures: the one to mark, the watermark and the
// template, loaded and marked.
#include "ui/control_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <thread>

#include "batch/messages.h"
#include "batch/tokens.h"
#include "imaging/loaders.h"
#include "settings/ini_file.h"
#include "settings/numbers.h"
#include "settings/presets.h"
#include "settings/settings.h"
#include "ui/file_lists.h"
#include "ui/result_window.h"
#include "ui/twips.h"
#include "ui/window_support.h"

namespace velda {

template <class F>
auto ControlPanel::WithStatus(const QString& status, F&& work) {
    // The work runs on a thread of its own, on objects of its own, while
    // this thread goes on painting; the panel takes no input meanwhile, and
    // the caller puts the work's results in place once it is done.
    const QString kept = host_.Caption();
    host_.SetCaption(status);
    QApplication::processEvents();  // the caption shown, what was pending done
    BusyCursor busy;
    const bool enabled = isEnabled();
    setEnabled(false);
    loading_ = true;
    decltype(work()) result{};
    QEventLoop loop;
    std::thread worker([&] {
        result = work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    loading_ = false;
    setEnabled(enabled);
    host_.SetCaption(kept);
    return result;
}

bool ControlPanel::LoadMainFile(const QString& fileName) {
    if (loading_) return false;  // one picture at a time
    if (!FileExists(fileName)) {
        // The picture that is open stays open, and keeps its name in the box.
        prompter_.Message(tr("Cannot find main image to watermark: %1").arg(fileName),
                          Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        if (ResultWindow* r = host_.ExistingResult(); r && !r->Full_Picbuf.FileName.isEmpty())
            ofile->setText(r->Copy_Picbuf.FileName);
        return false;
    }
    ResultWindow* result = host_.Result();
    Picbuf& full = result->Full_Picbuf;
    // Read by its contents, a Photo CD at the chosen resolution; a GIF is
    // worked on in true colour.
    Lead lead = result->LEAD;
    const QString resolution = pcdbase->currentText();
    Picture loaded, shown;
    const Status s = WithStatus(tr("Loading main file to watermark...."), [&] {
        Picbuf target;
        Status st = LoadPhotoCdFile(fileName, target, lead, resolution);
        if (st.ok() && target.picture().format == FormatId::Gif) st = target.IncreaseColors(24);
        if (!st.ok()) return st;
        loaded = target.CopyClipboard();
        // The shown picture gets memory of its own now rather than at the
        // first apply, which then only copies pixels back into it.
        shown = loaded;
        shown.image.detach();
        return st;
    });
    result->LEAD = lead;
    if (!s.ok()) {
        full.ClearPicture();
        host_.CloseResult();
        prompter_.Message(messages::ImageLoadError(s), Prompter::Icon::Critical,
                          Prompter::Buttons::Ok);
        return false;
    }
    full.WriteCompression = 0;
    full.ImageFormat = 0;
    full.PasteClipboard(shown);
    result->Copy_Picbuf.PasteClipboard(loaded);
    result->AppliedMarks = RegionMarks();
    result->InvisibleMarked = false;
    result->Refresh();
    // Shown with its marks at once, as every change of them would show.
    if (!startingUp_) PreviewNow();

    const int width = full.Xresolution();
    const int height = full.Yresolution() + TwipsToPixels(350);
    const int panelHeight = parentWidget() ? parentWidget()->height() : this->height();
    const QRect geometry((host_.WorkAreaWidth() - width) / 2, panelHeight + TwipsToPixels(5), width,
                         height);
    const QString caption = QStringLiteral("Image to Watermark: ") + fileName.trimmed() +
                            QStringLiteral(" - (") + QString::number(full.Xresolution()) +
                            QStringLiteral(" x ") + QString::number(full.Yresolution()) +
                            QStringLiteral(" - ") + QString::number(full.ColorDepth()) +
                            QStringLiteral(" BPP, Size -") + QStringLiteral(" ") +
                            QString::number(QFileInfo(fileName).size()) + QStringLiteral(" bytes)");
    host_.ShowResult(geometry, caption);
    AddRecentFile(state_.settingsPath, QFileInfo(fileName.trimmed()).absoluteFilePath());
    return true;
}

bool ControlPanel::OpenPicture(const QString& fileName) {
    if (loading_) return false;
    if (!FileExists(fileName)) RemoveRecentFile(state_.settingsPath, fileName);
    ofile->setText(fileName);
    return LoadMainFile(fileName);
}

void ControlPanel::LoadMark(const QString& fileName, Picbuf& target, const QString& status,
                            const std::function<LoadOutcome(Status*)>& load,
                            const std::function<void()>& commit,
                            QString (*message)(const QString&, const Status&)) {
    if (loading_) return;
    SchedulePreview();
    if (!FileExists(fileName)) {
        target.ClearPicture();
        return;
    }
    Status s;
    const LoadOutcome outcome = WithStatus(status, [&] { return load(&s); });
    commit();
    if (outcome == LoadOutcome::Failed) {
        prompter_.Message(message(fileName, s), Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
    }
}

// The pictures are loaded into copies, put in place once loaded: the
// window thread may draw a preview with the old ones meanwhile.
void ControlPanel::LoadWatermarkFile(const QString& fileName) {
    Picbuf watermark = Waterm_Picbuf, mask = Mask_Picbuf;
    const int mix = state_.MixLevel;
    LoadMark(
        fileName, Waterm_Picbuf, tr("Loading watermark file...."),
        [&](Status* s) { return LoadWatermarkPicture(fileName, watermark, mask, mix, s); },
        [&] {
            Waterm_Picbuf = watermark;
            Mask_Picbuf = mask;
        },
        messages::WatermarkLoadError);
}

void ControlPanel::LoadTemplateFile(const QString& fileName) {
    Picbuf mask = Mask_Picbuf;
    LoadMark(
        fileName, Mask_Picbuf, tr("Loading template file...."),
        [&](Status* s) { return LoadTemplatePicture(fileName, mask, s); },
        [&] { Mask_Picbuf = mask; }, messages::TemplateLoadError);
}

void ControlPanel::Browse(const QString& path, bool trimTyped, const QString& filters,
                          QLineEdit* box, void (ControlPanel::*load)(const QString&)) {
    BusyCursor busy;
    QString file = trimTyped ? path.trimmed() : path;
    if (path.trimmed().isEmpty()) {
        const auto chosen = prompter_.OpenFile(tr("Open Image File"), state_.InitDir, filters);
        if (!chosen) return;  // cancelling changes nothing
        state_.InitDir = CutInitDir(*chosen);
        box->setText(*chosen);
        file = chosen->trimmed();
    }
    (this->*load)(file);
}

void ControlPanel::BrowseMainFile(const QString& path) {
    Browse(path, false, OpenFilters(), ofile, &ControlPanel::LoadMainFileQuietly);
}

void ControlPanel::BrowseWatermarkFile(const QString& path) {
    Browse(path, false, OpenFilters(), wfile, &ControlPanel::LoadWatermarkFile);
}

void ControlPanel::BrowseTemplateFile(const QString& path) {
    Browse(path, true, OpenFilters(), tfile, &ControlPanel::LoadTemplateFile);
}

void ControlPanel::ApplyStuff_Click() {
    if (loading_) return;
    BusyCursor busy;
    SaveSettings();
    const QString name = ofile->text().trimmed();
    ResultWindow* existing = host_.ExistingResult();
    const bool loaded = existing && !existing->Full_Picbuf.FileName.isEmpty();
    if (name.isEmpty() && !loaded) {
        prompter_.Message(tr("Must load an image to watermark"), Prompter::Icon::Exclamation,
                          Prompter::Buttons::Ok);
        return;
    }
    if (!loaded) {
        if (!FileExists(name)) {
            prompter_.Message(tr("Cannot find main image to watermark"),
                              Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
            return;
        }
        if (!LoadMainFile(name)) return;
        QApplication::processEvents();
    }
    previewTimer_.stop();
    ApplyMarksToResult(host_.Result());
}

void ControlPanel::CheckInvisibleMark() {
    ResultWindow* result = host_.ExistingResult();
    if (!result || !result->Copy_Picbuf.HasPicture()) {
        prompter_.Message(tr("Open a picture first: the picture to watermark is checked, as it "
                             "was opened."),
                          Prompter::Icon::Information, Prompter::Buttons::Ok);
        return;
    }
    std::optional<InvisiblePayload> found;
    (void)WithStatus(tr("Looking for an invisible mark...."), [&] {
        found = DetectInvisible(result->Copy_Picbuf.picture());
        return Status::Ok();
    });
    const QString name = QFileInfo(result->Copy_Picbuf.FileName).fileName();
    prompter_.Message(found ? tr("%1: invisible mark %2").arg(name, found->ToString())
                            : tr("%1: no invisible mark").arg(name),
                      Prompter::Icon::Information, Prompter::Buttons::Ok);
}

void ControlPanel::ApplyMarksToResult(ResultWindow* result) {
    Picbuf& full = result->Full_Picbuf;
    // Every apply starts again from the picture as loaded.
    full.RestoreFrom(result->Copy_Picbuf.CopyClipboard());
    BatchJob marks;  // placement and text as a batch would take them
    JobFromSettings(FormSettings(), &marks);
    marks.watermark = Waterm_Picbuf.picture();
    marks.mask = Mask_Picbuf.picture();
    // A mark whose file does not load is left out of the preview, and the
    // Layout panel says why; a batch refuses to start with it.
    QString problem;
    (void)LoadStackMarkFiles(&marks, &problem, true);
    layout_->SetStackProblem(problem);
    const Picture& loaded = result->Copy_Picbuf.picture();
    const FileFacts facts{result->Copy_Picbuf.FileName, 1, loaded.metadata, loaded.image.size()};
    if (std::optional<BatchJob> filled = WithStackTokens(marks, facts)) marks = std::move(*filled);
    const QString text = ExpandFileTokens(marks.text, facts);
    DrawJobMarks(marks, text, full);
    // What Save As redraws into the loaded JPEG when it keeps its blocks;
    // an invisible mark changes them all.
    result->AppliedMarks = JobMarks(marks, text);
    result->InvisibleMarked = false;
    if (marks.invisible) {
        result->InvisibleMarked =
            full.EmbedInvisibleMark(*marks.invisible, marks.invisibleStrength).ok();
    }
    result->Refresh();
}

}  // namespace velda
