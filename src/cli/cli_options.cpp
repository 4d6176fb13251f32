#include "cli/cli_options.h"

#include <QFileInfo>

#include "batch/directory_scan.h"
#include "cli/cli_host.h"
#include "imaging/loaders.h"
#include "settings/ini_file.h"
#include "settings/presets.h"
#include "settings/section_settings.h"
#include "settings/settings.h"

namespace velda::cli {

namespace {

bool ParseInt(const QString& text, int min, int max, int* out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max) return false;
    *out = v;
    return true;
}

// The keys of [Marks] and [Output], one a line, with what each does.
QString SectionKeysHelp() {
    QString out;
    for (const KeyTable* table : {&MarksSection(), &OutputSection()}) {
        out += QStringLiteral("\nKeys of [%1] (empty: as before the section existed):\n")
                   .arg(table->name);
        for (const KeyInfo& k : table->keys) {
            out += QStringLiteral("  %1%2\n")
                       .arg(QString::fromUtf16(k.name), -17)
                       .arg(QString::fromUtf16(k.help));
            if (k.choices)
                out += QStringLiteral("  %1one of: %2\n")
                           .arg(QString(), -17)
                           .arg(QString::fromUtf16(k.choices));
        }
    }
    return out;
}

}  // namespace

QString HelpText() {
    return QStringLiteral(
               "Usage: velda-batch [OPTIONS] INPUT_DIR OUTPUT_DIR [FILE...]\n"
               "Watermarks pictures and converts them into OUTPUT_DIR, with the watermark,\n"
               "template, text and positions of the desktop program's settings file.\n"
               "\n"
               "  FILE...            names of files inside INPUT_DIR, processed in this order;\n"
               "                     without them, every picture directly in INPUT_DIR\n"
               "                     (.bmp .jpg .pcx .png .tif .tga .fif .gif)\n"
               "  --recursive        every picture of INPUT_DIR and all its subdirectories\n"
               "  --settings FILE    the velda.ini to read (default: the desktop program's)\n"
               "  --preset NAME      the settings of [Preset NAME] over the file's own\n"
               "  --list-presets     the presets of the settings file, one a line\n"
               "  --set KEY=VALUE    override one key of [MainVeldaDetails], [Marks], [Output],\n"
               "                     after any preset, e.g.\n"
               "                     --set WaterMarkFile=logo.png --set MixValue=128\n"
               "                     --set Text=\"(c) 2026\" --set Textclr=0000FF "
               "(blue,green,red)\n"
               "                     --set WatermarkSize=20 --set Anchor=BR --set MarginX=3%\n"
               "  --format FMT       jpg (default), tif, tga, bmp, pcx or gif\n"
               "  --depth BITS       24 (default), 8 or 4; JPEG is always 24, GIF always 8\n"
               "  --quality N        JPEG quality 0-100 (default: JPEGValue of the settings, 75)\n"
               "  --lossless         JPEG to JPEG: keep every 8x8 block the marks do not touch\n"
               "                     and re-encode only those under them, with the source's\n"
               "                     own tables (--quality does not apply; the EXIF\n"
               "                     orientation is kept); default: LosslessJpeg of [Options]\n"
               "  --delete-sources   delete each source once its result is safely written;\n"
               "                     results then never replace an existing file\n"
               "  --existing POLICY  what a result does to a file that has its name: replace\n"
               "                     (default), rename (\"photo (2).jpg\") or skip; files\n"
               "                     another run is writing, and sources, are never replaced\n"
               "  --strip-metadata   write no EXIF, IPTC, XMP or colour profile (GPS included);\n"
               "                     by default JPEG, TIFF, PNG and WebP results keep their\n"
               "                     sources' metadata\n"
               "  --pcd RES          Photo CD resolution: base/16, base/4, base (default),\n"
               "                     base*4 or base*16\n"
               "  --jobs N           files processed at once (default: one per core)\n"
               "  --memory MIB       memory the run may hold in pictures at once (default:\n"
               "                     half the machine's); a file is started only when its\n"
               "                     estimate fits beside those in progress\n"
               "  --quiet            no progress on standard error\n"
               "  --help, --version\n"
               "%1"
               "\n"
               "Text may hold tokens: {name} (file name without extension), {date} (EXIF\n"
               "date taken, YYYY-MM-DD, else the file's date), {year}, {counter} (place in\n"
               "the run), any Exiv2 key such as {Exif.Image.Artist} or {Xmp.dc.creator};\n"
               "{{ and }} write braces.\n"
               "\n"
               "Standard output holds the report: \"N files processed.\" and the files that\n"
               "could not be converted. Exit status: 0 all written, 1 some files failed,\n"
               "2 run refused or bad arguments, 130 interrupted.\n")
        .arg(SectionKeysHelp());
}

bool ParseArguments(const QStringList& args, CliRequest* out, QString* error) {
    QString settingsFile;
    bool settingsGiven = false;
    QStringList sets, positional;
    QString format = QStringLiteral("jpg"), depth = QStringLiteral("24"), quality, pcd, jobs,
            existing, memory;
    bool recursive = false;
    bool strip = false;
    bool lossless = false;
    bool webpLossless = false, keepTree = false;
    QString preset, resize, nameTemplate;
    bool resizeGiven = false, nameGiven = false;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* into) {
            const qsizetype eq = a.indexOf(u'=');
            if (a.startsWith(QStringLiteral("--")) && eq > 0) {
                *into = a.mid(eq + 1);
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("option %1 needs a value").arg(a);
                return false;
            }
            *into = args[++i];
            return true;
        };
        const QString name = a.startsWith(QStringLiteral("--")) ? a.section(u'=', 0, 0) : a;
        if (name == u"--help" || name == u"-h") {
            out->help = true;
        } else if (name == u"--version") {
            out->version = true;
        } else if (name == u"--quiet" || name == u"-q") {
            out->quiet = true;
        } else if (name == u"--recursive" || name == u"-r") {
            recursive = true;
        } else if (name == u"--strip-metadata") {
            strip = true;
        } else if (name == u"--lossless") {
            lossless = true;
        } else if (name == u"--webp-lossless") {
            webpLossless = true;
        } else if (name == u"--keep-tree") {
            keepTree = true;
        } else if (name == u"--dry-run") {
            out->batch.dryRun = true;
        } else if (name == u"--list-presets") {
            out->listPresets = true;
        } else if (name == u"--preset") {
            if (!value(&preset)) return false;
        } else if (name == u"--resize") {
            if (!value(&resize)) return false;
            resizeGiven = true;
        } else if (name == u"--name") {
            if (!value(&nameTemplate)) return false;
            nameGiven = true;
        } else if (name == u"--delete-sources") {
            out->batch.deleteSources = true;
        } else if (name == u"--settings") {
            if (!value(&settingsFile)) return false;
            settingsGiven = true;
        } else if (name == u"--set") {
            QString s;
            if (!value(&s)) return false;
            sets.append(s);
        } else if (name == u"--format") {
            if (!value(&format)) return false;
        } else if (name == u"--depth") {
            if (!value(&depth)) return false;
        } else if (name == u"--quality") {
            if (!value(&quality)) return false;
        } else if (name == u"--pcd") {
            if (!value(&pcd)) return false;
        } else if (name == u"--jobs" || name == u"-j") {
            if (!value(&jobs)) return false;
        } else if (name == u"--existing") {
            if (!value(&existing)) return false;
        } else if (name == u"--memory") {
            if (!value(&memory)) return false;
        } else if (name == u"--") {
            positional += args.mid(i + 1);
            break;
        } else if (a.startsWith(u'-') && a.size() > 1) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        } else {
            positional.append(a);
        }
    }
    if (out->help || out->version) return true;
    if (out->listPresets) {
        if (!settingsGiven) settingsFile = SettingsFilePath();
        out->presets = PresetNames(settingsFile);
        return true;
    }

    if (positional.size() < 2) {
        *error = QStringLiteral("INPUT_DIR and OUTPUT_DIR are needed");
        return false;
    }
    BatchRequest& b = out->batch;
    b.inputDir = positional[0];
    b.outputDir = positional[1];
    const QStringList files = positional.mid(2);
    if (!files.isEmpty() && recursive) {
        *error = QStringLiteral("FILE names and --recursive cannot go together");
        return false;
    }
    for (const QString& f : files) {
        if (f.contains(u'/') || f.isEmpty() || f == u"." || f == u"..") {
            *error = QStringLiteral("FILE must be a plain name inside INPUT_DIR: %1").arg(f);
            return false;
        }
    }
    if (!QFileInfo(b.inputDir).isDir()) {
        *error = QStringLiteral("input directory not found: %1").arg(b.inputDir);
        return false;
    }
    QList<QFileInfo> entries;  // listed once: to check the folder, and for its files
    if (!ListDirectory(b.inputDir, &entries).ok()) {
        *error = QStringLiteral("input directory cannot be read: %1").arg(b.inputDir);
        return false;
    }
    b.tree = recursive;
    b.files = files;
    if (files.isEmpty() && !recursive) {
        for (const QFileInfo& e : entries) {
            if (e.isFile() && IsWalkedPictureName(e.fileName())) b.files.append(e.fileName());
        }
    }

    // The settings: the file (missing default: the form's values), then --set.
    WatermarkSettings& s = out->settings;
    if (settingsGiven) {
        if (!FileExists(settingsFile)) {
            *error = QStringLiteral("settings file not found: %1").arg(settingsFile);
            return false;
        }
    } else {
        settingsFile = SettingsFilePath();
    }
    ReadWatermarkSettings(settingsFile, s);
    MarksSettings marks;
    marks.Read(settingsFile);
    OutputSettings output;
    output.Read(settingsFile);
    if (!preset.isEmpty()) {
        QStringList refused;
        if (!ApplyPreset(settingsFile, preset, s, marks, output, &refused)) {
            *error = QStringLiteral("no preset %1 in %2").arg(preset, settingsFile);
            return false;
        }
        for (const QString& kv : refused)
            Err(QStringLiteral("warning: preset %1: %2 is not a setting; left out")
                    .arg(preset, kv));
    }
    if (FileExists(settingsFile) &&
        !IniDocument::Load(settingsFile).HasSection(QStringLiteral("MainVeldaDetails"))) {
        Err(QStringLiteral("warning: %1 has no [MainVeldaDetails] section; its settings are not "
                           "used")
                .arg(settingsFile));
    }
    for (const QString& kv : sets) {
        const qsizetype eq = kv.indexOf(u'=');
        if (eq <= 0) {
            *error = QStringLiteral("--set takes KEY=VALUE: %1").arg(kv);
            return false;
        }
        const QString key = kv.left(eq), val = kv.mid(eq + 1);
        if (!SetWatermarkKey(s, key, val) && !marks.Apply(key, val) && !output.Apply(key, val)) {
            *error = QStringLiteral("--set %1: unknown key or value out of range").arg(kv);
            return false;
        }
    }
    // The options are shorthands for their keys.
    if (resizeGiven && !output.Apply(QStringLiteral("Resize"), resize)) {
        *error = QStringLiteral("--resize takes long:N, short:N, width:N, height:N or fit:WxH");
        return false;
    }
    if (nameGiven && !output.Apply(QStringLiteral("NameTemplate"), nameTemplate)) {
        *error = QStringLiteral("--name takes a file name without folders");
        return false;
    }
    if (keepTree) output.Apply(QStringLiteral("KeepTree"), QStringLiteral("True"));

    BatchJob& job = out->job;
    ApplyPanelSettings(s, &job);
    job.layout = MarkLayoutFrom(marks);
    ApplyOutputSettings(output, &job);
    job.webpLossless = webpLossless;
    b.keepTree = DecodeBooleanWord(output.Value(QStringLiteral("KeepTree")));
    job.keepMetadata = !strip && ReadKeepMetadata(settingsFile);
    job.losslessJpeg = lossless || ReadLosslessJpeg(settingsFile);
    static const QStringList formats = {QStringLiteral("tga"), QStringLiteral("tif"),
                                        QStringLiteral("pcx"), QStringLiteral("bmp"),
                                        QStringLiteral("gif"), QStringLiteral("jpg"),
                                        QStringLiteral("png"), QStringLiteral("webp")};
    const qsizetype f = formats.indexOf(format.toLower());
    if (f < 0) {
        *error = QStringLiteral("--format must be jpg, tif, tga, bmp, pcx, gif, png or webp");
        return false;
    }
    job.output = static_cast<OutputOption>(f);
    if (depth != u"24" && depth != u"8" && depth != u"4") {
        *error = QStringLiteral("--depth must be 24, 8 or 4");
        return false;
    }
    job.depth = depth.toInt();
    if (!quality.isEmpty() && !ParseInt(quality, 0, 100, &job.jpegQuality)) {
        *error = QStringLiteral("--quality must be a whole number from 0 to 100");
        return false;
    }
    if (!pcd.isEmpty()) {
        static const QStringList names = {QStringLiteral("Base/16"), QStringLiteral("Base/4"),
                                          QStringLiteral("Base"), QStringLiteral("Base*4"),
                                          QStringLiteral("Base*16")};
        const auto it = std::find_if(names.begin(), names.end(), [&](const QString& n) {
            return n.compare(pcd, Qt::CaseInsensitive) == 0;
        });
        if (it == names.end()) {
            *error = QStringLiteral("--pcd must be base/16, base/4, base, base*4 or base*16");
            return false;
        }
        job.photoCdResolution = PhotoCdResolutionFromText(*it, kPhotoCdBase);
    }
    if (!jobs.isEmpty() && !ParseInt(jobs, 1, 256, &b.jobs)) {
        *error = QStringLiteral("--jobs must be a whole number from 1 to 256");
        return false;
    }
    static const QStringList policies = {QStringLiteral("replace"), QStringLiteral("rename"),
                                         QStringLiteral("skip")};
    if (!existing.isEmpty()) {
        const qsizetype p = policies.indexOf(existing.toLower());
        if (p < 0) {
            *error = QStringLiteral("--existing must be replace, rename or skip");
            return false;
        }
        b.existing = static_cast<ExistingPolicy>(p);
    }
    int mib = 0;
    if (!memory.isEmpty()) {
        if (!ParseInt(memory, 16, 1 << 24, &mib)) {
            *error = QStringLiteral("--memory must be a number of MiB from 16");
            return false;
        }
        b.memoryBytes = static_cast<qint64>(mib) << 20;
    }

    QString message;
    if (!LoadJobPictures(s, &job, &message).ok()) {
        *error = message;
        return false;
    }
    PrepareMarks(&job);
    out->nothingToApply = s.WaterMarkFile.trimmed().isEmpty() && s.Text.trimmed().isEmpty();
    return true;
}

}  // namespace velda::cli
