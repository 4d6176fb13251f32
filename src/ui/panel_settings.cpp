// The control panel bound to velda.ini: the form read from the file and
// written back, presets, and the settings a run takes.
#include "ui/control_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>

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

void ControlPanel::LoadSettings() {
    const QString path = state_.settingsPath;
    if (!FileExists(path)) return;
    // One that is there but cannot be read whole is left as it is: the form
    // starts with its own values, and nothing is written over the file.
    if (const QString problem = IniDocument::Load(path).ReadProblem(path); !problem.isEmpty()) {
        prompter_.Message(problem + tr("\rThe settings will not be saved into it."),
                          Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
        return;
    }
    MarksSettings marks;
    marks.Read(path);
    layout_->SetSettings(marks);
    layout_->SetStack(ReadStackMarks(path));
    InvisibleSettings invisible;
    invisible.Read(path);
    layout_->SetInvisible(invisible);
    fileExtraOutputs_ = ReadExtraOutputs(path);
    OutputSettings& output = fileOutput_;
    output = OutputSettings();
    output.Read(path);
    ResizeBox->setText(output.Value(QStringLiteral("Resize")));
    NameBox->setText(output.Value(QStringLiteral("NameTemplate")));
    KeepTree->setChecked(output.Value(QStringLiteral("KeepTree")) == u"True");
    layout_mnu->setChecked(ReadOptionFlag(path, QStringLiteral("LayoutPanel"), true));
    livepreview_mnu->setChecked(ReadOptionFlag(path, QStringLiteral("LivePreview"), true));
    keepmeta_mnu->setChecked(ReadKeepMetadata(path));
    lossless_mnu->setChecked(ReadLosslessJpeg(path));
    state_.FitToWindow = ReadOptionFlag(path, QStringLiteral("FitToWindow"), true);
    // The file is read once; its keys are looked up in memory.
    const IniDocument doc = IniDocument::Load(path);
    auto read = [&doc](const char* key) {
        return ReadIniKey(doc, kMainSection, QString::fromLatin1(key));
    };
    if (const IniKeyValue v = read("OrigFile"); v.count) {
        ofile->setText(v.value);
        const QString t = ofile->text().trimmed();
        // A remembered picture that is gone or will not load is forgotten;
        // the rest of the settings are restored all the same, so closing
        // never writes the form's defaults over them.
        if (!FileExists(t) || !LoadMainFile(t)) ofile->clear();
    }
    if (const IniKeyValue v = read("WaterMarkFile"); v.count) {
        wfile->setText(v.value);
        const QString t = wfile->text().trimmed();
        if (FileExists(t)) {
            LoadWatermarkFile(t);
        } else {
            wfile->clear();
        }
    }
    if (const IniKeyValue v = read("TemplateFile"); v.count) {
        tfile->setText(v.value);
        const QString t = tfile->text().trimmed();
        if (FileExists(t)) {
            LoadTemplateFile(t);
        } else {
            tfile->clear();
        }
    }
    const IniKeyValue colour = read("Textclr");
    Textclr->setText(colour.count ? colour.value : QStringLiteral("FFFFFF"));
    if (const IniKeyValue v = read("InitDir"); v.count) state_.InitDir = v.value;
    // A remembered folder that is gone leaves its lists as they were.
    if (const IniKeyValue v = read("InputDir"); v.count && InputDir->setPath(v.value)) {
        InputDrive->ShowDriveOf(v.value);
    }
    if (const IniKeyValue v = read("OutputDir"); v.count && OutputDir->setPath(v.value)) {
        OutputDrive->ShowDriveOf(v.value);
    }
    if (const IniKeyValue v = read("Text"); v.count) CopyText->setPlainText(v.value);
    if (const IniKeyValue v = read("ImagePercent"); v.count) {
        (DecodeBooleanWord(v.value) ? Iper : ipix)->setChecked(true);
    }
    if (const IniKeyValue v = read("TextPercent"); v.count) {
        (DecodeBooleanWord(v.value) ? tper : tpix)->setChecked(true);
    }
    if (const auto v = DecodeInteger(read("MixValue").value, 0, 255)) {
        mixvalue->setValue(*v);
        mixvalue_Change();  // also when the stored level equals the slider's
    }
    if (const auto v = DecodeInteger(read("JPEGValue").value, 0, 100)) jpegval->setValue(*v);
    if (const IniKeyValue v = read("wx"); v.count) wx->setText(NumberText(v.value));
    if (const IniKeyValue v = read("wy"); v.count) wy->setText(NumberText(v.value));
    if (const auto v = DecodeInteger(read("CentreWatermark").value, 0, 1))
        centre->setChecked(*v == 1);
    if (const IniKeyValue v = read("tx"); v.count) tx->setText(NumberText(v.value));
    if (const IniKeyValue v = read("ty"); v.count) ty->setText(NumberText(v.value));
    if (const IniKeyValue v = read("ts"); v.count) ts->setText(NumberText(v.value));
    if (const IniKeyValue v = read("tfont"); v.count) wmfont->setCurrentText(v.value);
}

WatermarkSettings ControlPanel::PanelSettings() const {
    // An option pair with neither button chosen (a fresh form) is stored as
    // an empty value, which reads back the same way.
    auto pair = [](const QRadioButton* yes, const QRadioButton* no) -> std::optional<bool> {
        if (yes->isChecked()) return true;
        if (no->isChecked()) return false;
        return std::nullopt;
    };
    WatermarkSettings s;
    s.OrigFile = ofile->text();
    s.WaterMarkFile = wfile->text();
    s.ImagePercent = pair(Iper, ipix);
    s.TextPercent = pair(tper, tpix);
    s.TemplateFile = tfile->text();
    s.Textclr = Textclr->text();
    s.InitDir = state_.InitDir;
    s.InputDir = InputFile->path();
    s.OutputDir = OutputDir->path();
    s.Text = CopyText->toPlainText();
    s.MixValue = mixvalue->value();
    s.JPEGValue = jpegval->value();
    s.wx = wx->text();
    s.wy = wy->text();
    s.CentreWatermark = centre->isChecked() ? 1 : 0;
    s.tx = tx->text();
    s.ty = ty->text();
    s.ts = ts->text();
    s.tfont = wmfont->currentText();
    return s;
}

void ControlPanel::SaveSettings() {
    WriteWatermarkSettings(state_.settingsPath, PanelSettings());  // failures are never reported
    WriteKeepMetadata(state_.settingsPath, keepmeta_mnu->isChecked());
    WriteLosslessJpeg(state_.settingsPath, lossless_mnu->isChecked());
    WriteOptionFlag(state_.settingsPath, QStringLiteral("FitToWindow"), state_.FitToWindow);
    WriteOptionFlag(state_.settingsPath, QStringLiteral("LayoutPanel"), layout_mnu->isChecked());
    WriteOptionFlag(state_.settingsPath, QStringLiteral("LivePreview"),
                    livepreview_mnu->isChecked());
    layout_->Settings().Write(state_.settingsPath);
    WriteStackMarks(state_.settingsPath, layout_->Stack());
    layout_->Invisible().Write(state_.settingsPath);
    OutputPanelSettings().Write(state_.settingsPath);
}

JobSettings ControlPanel::FormSettings() const {
    JobSettings s;
    s.main = PanelSettings();
    s.marks = layout_->Settings();
    s.output = OutputPanelSettings();
    s.extraOutputs = fileExtraOutputs_;
    s.stackMarks = layout_->Stack();
    s.invisible = layout_->Invisible();
    s.keepMetadata = state_.KeepMetadata;
    s.losslessJpeg = state_.LosslessJpeg;
    return s;
}

OutputSettings ControlPanel::OutputPanelSettings() const {
    OutputSettings o = fileOutput_;
    // A value its key refuses is not kept: Start says why first.
    if (!o.Apply(QStringLiteral("Resize"), ResizeBox->text()))
        o.Apply(QStringLiteral("Resize"), QString());
    if (!o.Apply(QStringLiteral("NameTemplate"), NameBox->text()))
        o.Apply(QStringLiteral("NameTemplate"), QString());
    o.Apply(QStringLiteral("KeepTree"), KeepTree->isChecked() ? QStringLiteral("True") : QString());
    return o;
}

void ControlPanel::SavePresetAs() {
    const auto name = prompter_.AskText(tr("Name of the preset:"), QString());
    if (!name || name->trimmed().isEmpty()) return;
    if (PresetNames(state_.settingsPath).contains(name->trimmed(), Qt::CaseInsensitive) &&
        !prompter_.Message(
            tr("A preset named %1 exists. Do you want to replace it?").arg(name->trimmed()),
            Prompter::Icon::Question, Prompter::Buttons::YesNo))
        return;
    const InvisibleSettings invisible = layout_->Invisible();
    if (!SavePreset(state_.settingsPath, *name, PanelSettings(), layout_->Settings(),
                    OutputPanelSettings(), layout_->Stack(), fileExtraOutputs_, &invisible)) {
        prompter_.Message(tr("The preset could not be saved in %1").arg(state_.settingsPath),
                          Prompter::Icon::Exclamation, Prompter::Buttons::Ok);
    }
}

void ControlPanel::LoadPreset(const QString& name) {
    WatermarkSettings main = PanelSettings();
    MarksSettings marks = layout_->Settings();
    OutputSettings output = OutputPanelSettings();
    std::map<int, StackMarkSettings> stack = layout_->Stack();
    std::map<int, ExtraOutputSettings> extras = fileExtraOutputs_;
    InvisibleSettings invisible = layout_->Invisible();
    if (!ApplyPreset(state_.settingsPath, name, main, marks, output, nullptr, &extras, &stack,
                     &invisible))
        return;
    // Through the settings file, as a start-up restores it: every control
    // and picture the preset names is set the one way.
    WriteWatermarkSettings(state_.settingsPath, main);
    marks.Write(state_.settingsPath);
    output.Write(state_.settingsPath);
    WriteStackMarks(state_.settingsPath, stack);
    WriteExtraOutputs(state_.settingsPath, extras);
    invisible.Write(state_.settingsPath);
    LoadSettings();
    SyncClassicControls();
    SchedulePreview();
}

}  // namespace velda
