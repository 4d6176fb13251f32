#include "cli/cli_options.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "batch/directory_scan.h"
#include "cli/cli_host.h"
#include "imaging/codec.h"
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

// The keys of every section, one a line, with what each does.
QString SectionKeysHelp() {
    QString out = QStringLiteral("\nKeys of [%1]:\n").arg(kMainSection);
    for (const MainKey& k : MainSectionKeys())
        out += QStringLiteral("  %1%2\n")
                   .arg(QString::fromUtf16(k.name), -17)
                   .arg(QString::fromUtf16(k.help));
    for (const KeyTable* table : {&MarksSection(), &StackMarkSection(), &OutputSection(),
                                  &ExtraOutputSection(), &InvisibleSection()}) {
        out += table == &ExtraOutputSection()
                   ? QStringLiteral(
                         "\nKeys of [Output2] ... [Output8], one more result each of "
                         "every source\n(--set Output2.KEY=VALUE):\n")
               : table == &StackMarkSection()
                   ? QStringLiteral(
                         "\nKeys of [Mark2] ... [Mark16], one more mark each, drawn in "
                         "number order\nafter the watermark and text "
                         "(--set Mark2.KEY=VALUE):\n")
                   : QStringLiteral("\nKeys of [%1] (empty: as before the section existed):\n")
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

namespace {

// Every option: the parser reads this table, and --help is made from it.
struct OptionInfo {
    const char* name;
    const char* shortName;  // or nullptr
    const char* value;      // the value's name in the help; nullptr for a switch
    const char* help;       // lines separated by "\n"
};

// The output formats, named as --format takes them, from the format table.
const QStringList& FormatNames() {
    static const QStringList names = [] {
        QStringList list;
        for (const FormatInfo* f : Formats())
            if (f->writable()) list.append(QString::fromLatin1(f->name));
        return list;
    }();
    return names;
}

QString Listed(QStringList names, const QString& conjunction) {
    const QString last = names.takeLast();
    return names.isEmpty() ? last
                           : names.join(QStringLiteral(", ")) + u' ' + conjunction + u' ' + last;
}

QString FormatList() {
    QStringList others = FormatNames();
    others.removeAll(QStringLiteral("jpg"));
    return QStringLiteral("jpg (default), ") + Listed(others, QStringLiteral("or"));
}

// The written formats' titles (or names) of the rows that pass.
QString WrittenWhere(bool (*passes)(const FormatInfo&), bool titles, const QString& conjunction) {
    QStringList list;
    for (const FormatInfo* f : Formats())
        if (f->writable() && passes(*f))
            list.append(QString::fromLatin1(titles ? f->title : f->name));
    return Listed(list, conjunction);
}

// Lines longer than the help column are broken at spaces.
QStringList Wrapped(const QString& text) {
    constexpr int kWidth = 60;
    QStringList out;
    for (const QString& line : text.split(u'\n')) {
        QString rest = line;
        while (rest.size() > kWidth) {
            const qsizetype cut = rest.lastIndexOf(u' ', kWidth);
            if (cut <= 0) break;
            out.append(rest.left(cut));
            rest = rest.mid(cut + 1);
        }
        out.append(rest);
    }
    return out;
}

constexpr OptionInfo kOptions[] = {
    {"--recursive", "-r", nullptr, "every picture of INPUT_DIR and all its subdirectories"},
    {"--keep-tree", nullptr, nullptr,
     "with --recursive: results in the same relative folders\nunder OUTPUT_DIR"},
    {"--settings", nullptr, "FILE", "the velda.ini to read (default: the desktop program's)"},
    {"--preset", nullptr, "NAME", "the settings of [Preset NAME] over the file's own"},
    {"--list-presets", nullptr, nullptr, "the presets of the settings file, one a line"},
    {"--set", nullptr, "KEY=VALUE",
     "override one key of [MainVeldaDetails], [Marks], [Output],\n"
     "[MarkN] (as MarkN.KEY) or [OutputN] (OutputN.KEY), after\nany preset, e.g.\n"
     "--set WaterMarkFile=logo.png --set MixValue=128\n"
     "--set Text=\"(c) 2026\" --set Textclr=0000FF (blue,green,red)\n"
     "--set WatermarkSize=20 --set Anchor=BR --set MarginX=3%\n"
     "--set Mark2.Text=\"Ann Author\" --set Mark2.Anchor=TL"},
    {"--format", nullptr, "FMT", "%FORMATS%"},
    {"--depth", nullptr, "BITS",
     "24 (default), 8 or 4 for formats with a palette (not %TRUECOLOUR%); GIF is always 8"},
    {"--quality", nullptr, "N",
     "%QUALITY% quality 0-100 (default: JPEGValue of the settings, 75); "
     "100 is lossless in JPEG XL"},
    {"--webp-lossless", nullptr, nullptr, "with --format webp: lossless WebP"},
    {"--lossless", nullptr, nullptr,
     "JPEG to JPEG: keep every 8x8 block the marks do not touch\n"
     "and re-encode only those under them, with the source's\n"
     "own tables (--quality does not apply; the EXIF\n"
     "orientation is kept); default: LosslessJpeg of [Options]"},
    {"--invisible", nullptr, "PAYLOAD",
     "add an invisible mark carrying PAYLOAD: a number (1234,\n"
     "0x1F2E, up to 64 bits) or up to 8 characters; found\n"
     "again by --verify; not in 8- and 4-bit or GIF results"},
    {"--verify", nullptr, nullptr,
     "velda-batch --verify FILE...: for each picture, print\n"
     "\"FILE: mark PAYLOAD\" or \"FILE: no mark\"; exit 0 when\n"
     "every file was read, 1 otherwise"},
    {"--resize", nullptr, "SIZE",
     "long:N, short:N, width:N, height:N or fit:WxH; never\nenlarges; the marks are drawn after"},
    {"--name", nullptr, "TEMPLATE",
     "result name without extension: {name}, {counter},\n{counter:N}, {date}, {width}, {height}"},
    {"--delete-sources", nullptr, nullptr,
     "delete each source once its result is safely written;\n"
     "results then never replace an existing file"},
    {"--existing", nullptr, "POLICY",
     "what a result does to a file that has its name: replace\n"
     "(default), rename (\"photo (2).jpg\") or skip; files\n"
     "another run is writing, and sources, are never replaced"},
    {"--strip-metadata", nullptr, nullptr,
     "write no EXIF, IPTC, XMP or colour profile (GPS included);\n"
     "by default %METADATA% results keep their sources' metadata"},
    {"--pcd", nullptr, "RES",
     "Photo CD resolution: base/16, base/4, base (default),\nbase*4 or base*16"},
    {"--jobs", "-j", "N", "files processed at once (default: one per core)"},
    {"--memory", nullptr, "MIB",
     "memory the run may hold in pictures at once (default:\n"
     "half the machine's); a file is started only when its\n"
     "estimate fits beside those in progress"},
    {"--dry-run", nullptr, nullptr,
     "print each source and the result it would write, and\nwrite nothing"},
    {"--quiet", "-q", nullptr, "no progress on standard error"},
    {"--help", "-h", nullptr, "this text"},
    {"--version", nullptr, nullptr, "the program's version"},
};

const OptionInfo* FindOption(const QString& name) {
    for (const OptionInfo& o : kOptions) {
        if (name == QLatin1String(o.name) || (o.shortName && name == QLatin1String(o.shortName)))
            return &o;
    }
    return nullptr;
}

QString OptionsHelp() {
    QString out;
    for (const OptionInfo& o : kOptions) {
        QString head = QString::fromLatin1(o.name);
        if (o.shortName) head += QStringLiteral(", ") + QString::fromLatin1(o.shortName);
        if (o.value) head += u' ' + QString::fromLatin1(o.value);
        QString help = QString::fromUtf8(o.help);
        help.replace(QStringLiteral("%FORMATS%"), FormatList());
        help.replace(QStringLiteral("%TRUECOLOUR%"),
                     WrittenWhere([](const FormatInfo& f) { return !f.writes(8); }, false,
                                  QStringLiteral("or")));
        help.replace(QStringLiteral("%QUALITY%"),
                     WrittenWhere([](const FormatInfo& f) { return f.takesQuality; }, true,
                                  QStringLiteral("and")));
        help.replace(QStringLiteral("%METADATA%"),
                     WrittenWhere([](const FormatInfo& f) { return f.holdsMetadata; }, true,
                                  QStringLiteral("and")));
        const QStringList lines = Wrapped(help);
        // A long head takes a line of its own.
        if (head.size() > 17) {
            out += QStringLiteral("  %1\n").arg(head);
            head.clear();
        }
        for (const QString& line : lines) {
            out += QStringLiteral("  %1 %2\n").arg(head, -18).arg(line);
            head.clear();
        }
    }
    return out;
}

}  // namespace

QString HelpText() {
    QString endings;  // wrapped within 80 columns
    for (const QString& e : PictureEndings()) {
        if (endings.size() - endings.lastIndexOf(u'\n') + e.size() > 58)
            endings += QStringLiteral("\n                    ");
        endings += u' ' + e;
    }
    return QStringLiteral(
               "Usage: velda-batch [OPTIONS] INPUT_DIR OUTPUT_DIR [FILE...]\n"
               "       velda-batch --verify FILE...\n"
               "Watermarks pictures and converts them into OUTPUT_DIR, with the watermark,\n"
               "template, text and positions of the desktop program's settings file.\n"
               "\n"
               "  FILE...            names of files inside INPUT_DIR, processed in this order;\n"
               "                     without them, every picture directly in INPUT_DIR, by\n"
               "                     its ending in any letter case:\n"
               "                    %1\n"
               "%2"
               "%3"
               "\n"
               "Text may hold tokens: {name} (file name without extension), {date} (EXIF\n"
               "date taken, YYYY-MM-DD, else the file's date), {year}, {counter} (place in\n"
               "the run), any Exiv2 key such as {Exif.Image.Artist} or {Xmp.dc.creator};\n"
               "{{ and }} write braces.\n"
               "\n"
               "Standard output holds the report: \"N files processed.\", a line\n"
               "\"FILE: note: ...\" for each result with a remark, and the files that could\n"
               "not be converted. Exit status: 0 all written, 1 some files failed,\n"
               "2 run refused or bad arguments, 129 terminal closed, 130 interrupted.\n")
        .arg(endings, OptionsHelp(), SectionKeysHelp());
}

bool ParseArguments(const QStringList& args, CliRequest* out, QString* error) {
    QStringList sets, positional;
    QHash<QString, QString> values;  // by the option's long name
    QSet<QString> switches;

    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--") {
            positional += args.mid(i + 1);
            break;
        }
        if (!a.startsWith(u'-') || a.size() == 1) {
            positional.append(a);
            continue;
        }
        const qsizetype eq = a.startsWith(QStringLiteral("--")) ? a.indexOf(u'=') : -1;
        const OptionInfo* o = FindOption(eq > 0 ? a.left(eq) : a);
        if (!o) {
            *error = QStringLiteral("unknown option %1").arg(a);
            return false;
        }
        const QString name = QString::fromLatin1(o->name);
        if (!o->value) {
            switches.insert(name);
            continue;
        }
        QString v;
        if (eq > 0) {
            v = a.mid(eq + 1);
        } else if (i + 1 < args.size()) {
            v = args[++i];
        } else {
            *error = QStringLiteral("option %1 needs a value").arg(a);
            return false;
        }
        if (name == u"--set") {
            sets.append(v);
        } else {
            values.insert(name, v);
        }
    }
    auto given = [&](const char* name) { return switches.contains(QLatin1String(name)); };
    auto value = [&](const char* name, const QString& fallback = QString()) {
        return values.value(QLatin1String(name), fallback);
    };
    out->help = given("--help");
    out->version = given("--version");
    out->quiet = given("--quiet");
    out->listPresets = given("--list-presets");
    out->batch.dryRun = given("--dry-run");
    out->batch.deleteSources = given("--delete-sources");
    const bool recursive = given("--recursive"), strip = given("--strip-metadata"),
               lossless = given("--lossless"), webpLossless = given("--webp-lossless"),
               keepTree = given("--keep-tree");
    const bool settingsGiven = values.contains(QStringLiteral("--settings"));
    const bool resizeGiven = values.contains(QStringLiteral("--resize"));
    const bool nameGiven = values.contains(QStringLiteral("--name"));
    const bool depthGiven = values.contains(QStringLiteral("--depth"));
    const bool invisibleGiven = values.contains(QStringLiteral("--invisible"));
    QString settingsFile = value("--settings");
    const QString format = value("--format", QStringLiteral("jpg")),
                  depth = value("--depth", QStringLiteral("24")), quality = value("--quality"),
                  pcd = value("--pcd"), jobs = value("--jobs"), existing = value("--existing"),
                  memory = value("--memory"), preset = value("--preset"),
                  resize = value("--resize"), nameTemplate = value("--name"),
                  invisible = value("--invisible");

    if (out->help || out->version) return true;
    if (given("--verify")) {
        if (positional.isEmpty()) {
            *error = QStringLiteral("--verify needs the files to look at");
            return false;
        }
        out->verifyFiles = positional;
        return true;
    }
    // A settings file that is there must be read whole, or the run would
    // go on without its marks.
    if (!settingsGiven) settingsFile = SettingsFilePath();
    if (out->listPresets) {
        if (!QFileInfo::exists(settingsFile)) {
            *error = QStringLiteral("settings file not found: %1").arg(settingsFile);
            return false;
        }
        if (*error = IniDocument::Load(settingsFile).ReadProblem(settingsFile); !error->isEmpty())
            return false;
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
            if (e.isFile() && HasPictureEnding(e.fileName())) b.files.append(e.fileName());
        }
    }

    // The settings: the file (missing default: the form's values), its
    // preset, then --set.
    JobSettings settings;
    QStringList warnings;
    if (!ResolveSettings(settingsFile, settingsGiven, preset, sets, &settings, error, &warnings))
        return false;
    for (const QString& w : warnings)
        Err(QStringLiteral("warning: ") + w);
    if (*error = ExtraResultsProblem(settings); !error->isEmpty()) return false;
    // The options are shorthands for their keys.
    OutputSettings& output = settings.output;
    if (resizeGiven && !output.Apply(QStringLiteral("Resize"), resize)) {
        *error = QStringLiteral("--resize takes long:N, short:N, width:N, height:N or fit:WxH");
        return false;
    }
    if (nameGiven && !output.Apply(QStringLiteral("NameTemplate"), nameTemplate)) {
        *error = QStringLiteral("--name takes a file name without folders");
        return false;
    }
    if (keepTree) output.Apply(QStringLiteral("KeepTree"), QStringLiteral("True"));
    if (invisibleGiven && (invisible.trimmed().isEmpty() ||
                           !settings.invisible.Apply(QStringLiteral("Payload"), invisible))) {
        *error = QStringLiteral(
            "--invisible takes a number of up to 64 bits (1234, 0x1F2E) or up to 8 "
            "characters");
        return false;
    }
    if (strip) settings.keepMetadata = false;
    if (lossless) settings.losslessJpeg = true;
    out->settings = settings.main;
    const WatermarkSettings& s = out->settings;

    BatchJob& job = out->job;
    JobFromSettings(settings, &job);
    job.webpLossless = webpLossless;
    b.keepTree = DecodeBooleanWord(output.Value(QStringLiteral("KeepTree")));
    const FormatInfo* written = FormatNamed(format);
    if (!written || !written->writable()) {
        *error = QStringLiteral("--format must be %1").arg(FormatList());
        return false;
    }
    job.output = written->id;
    if (depth != u"24" && depth != u"8" && depth != u"4") {
        *error = QStringLiteral("--depth must be 24, 8 or 4");
        return false;
    }
    job.depth = depth.toInt();
    // What cannot be honoured is refused rather than quietly ignored.
    if (depthGiven && job.depth < 24 && !written->writes(job.depth)) {
        *error = QStringLiteral("--depth %1: %2 has no palette form").arg(depth, format);
        return false;
    }
    if (webpLossless && job.output != FormatId::Webp) {
        *error = QStringLiteral("--webp-lossless goes with --format webp only");
        return false;
    }
    if (lossless && job.output != FormatId::Jpeg) {
        *error = QStringLiteral("--lossless keeps JPEG blocks: it goes with --format jpg only");
        return false;
    }
    if (*error = InvisibleProblem(job); !error->isEmpty()) return false;
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
    if (!LoadJobPictures(s, &job, &message).ok() || !LoadStackMarkFiles(&job, &message).ok()) {
        *error = message;
        return false;
    }
    PrepareMarks(&job);
    out->nothingToApply = s.WaterMarkFile.trimmed().isEmpty() && s.Text.trimmed().isEmpty() &&
                          job.stack.empty() && !job.invisible;
    return true;
}

}  // namespace velda::cli
