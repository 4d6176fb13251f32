#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <mutex>
#include <thread>

#include "batch/batch_run.h"
#include "batch/messages.h"
#include "batch/watermark_file.h"
#include "imaging/codec.h"
#include "imaging/picbuf.h"
#include "imaging/picture_io.h"
#include "support/test_support.h"

namespace velda {
namespace {

// Answers the run's questions from a script and records what it was told.
class ScriptedHost : public BatchHost {
  public:
    bool Ask(const QString& text, Icon) override {
        std::lock_guard lock(m);
        asked.append(text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void Inform(const QString& text, Icon) override {
        std::lock_guard lock(m);
        told.append(text);
    }
    void FileDone(const QString& source, Outcome, const Status&, int done) override {
        std::lock_guard lock(m);
        finished.append(QFileInfo(source).fileName());
        if (stopAfter > 0 && done >= stopAfter) run->StopRequested = true;
    }
    std::mutex m;
    QList<bool> answers;
    QStringList asked, told, finished;
    int stopAfter = 0;
    BatchRun* run = nullptr;
};

class BatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        in_ = dir_.filePath(QStringLiteral("in"));
        out_ = dir_.filePath(QStringLiteral("out"));
        QDir().mkpath(in_);
        QDir().mkpath(out_);
    }
    QString Picture(const QString& relative, int w = 40, int h = 30) {
        const QString path = in_ + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        const QImage img = test::MakePhoto(w, h);
        EXPECT_TRUE(img.save(
            path, relative.endsWith(QStringLiteral(".gif"), Qt::CaseInsensitive) ? "png" : nullptr))
            << path.toStdString();
        return path;
    }
    QStringList FailedPaths() const {
        QStringList paths;
        for (const auto& f : run_.Failures())
            paths.append(f.path);
        return paths;
    }
    QStringList Outputs() const {
        return QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    BatchRequest Request(bool tree, QStringList files = {}) const {
        BatchRequest r;
        r.inputDir = in_;
        r.outputDir = out_;
        r.tree = tree;
        r.files = files;
        r.jobs = 2;
        return r;
    }

    QTemporaryDir dir_;
    QString in_, out_;
    BatchJob job_;
    BatchRun run_;
    ScriptedHost host_;
};

TEST_F(BatchTest, ChecksComeInOrderWithTheirExactWords) {
    EXPECT_EQ(run_.RunBatch(Request(false), job_, host_), 0);
    EXPECT_EQ(host_.told, QStringList{messages::kMustSelectFiles});

    BatchRequest r = Request(false, {QStringLiteral("a.png")});
    r.outputDir = dir_.filePath(QStringLiteral("new"));
    host_.answers = {false};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.asked.last(), messages::kOutputMissing);
    EXPECT_FALSE(QFileInfo::exists(r.outputDir));

    r.outputDir = dir_.filePath(QStringLiteral("no/parent"));
    host_.answers = {true};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.told.last(),
              messages::kErrorCreatingOutput + QStringLiteral("\rNo such file or directory"));

    // One directory named three ways is the same directory.
    QFile::link(in_, dir_.filePath(QStringLiteral("alias")));
    for (const QString& same :
         {in_ + u'/', out_ + QStringLiteral("/../in"), dir_.filePath(QStringLiteral("alias"))}) {
        r.outputDir = same;
        host_.told.clear();
        EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
        EXPECT_EQ(host_.told, QStringList{messages::kOutputSameAsSource}) << same.toStdString();
    }

    r.outputDir = out_;
    host_.answers = {false};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.asked.last(),
              QStringLiteral("You have selected to watermark the selected files from, ") + in_ +
                  QStringLiteral(", to ") + out_ + QStringLiteral("  Continue ?"));
    EXPECT_FALSE(run_.Started());
    EXPECT_TRUE(Outputs().isEmpty());

    // A list with a missing file still counts it, and names it as failed.
    // Names are taken as given: a leading blank is part of the name.
    Picture(QStringLiteral("b.png"));
    Picture(QStringLiteral(" b.png"));
    EXPECT_EQ(run_.RunBatch(Request(false, {QStringLiteral(" b.png"), QStringLiteral("gone.png")}),
                            job_, host_),
              2);
    EXPECT_EQ(Outputs(), QStringList{QStringLiteral(" b.jpg")});
    EXPECT_EQ(FailedPaths(), QStringList{in_ + QStringLiteral("/gone.png")});
    EXPECT_TRUE(run_.Failures()[0].reason.startsWith(QStringLiteral("file not found")));
}

TEST_F(BatchTest, TreeWalkTakesPicturesInOrderAndSkipsWhatItMust) {
    Picture(QStringLiteral("b.png"));
    Picture(QStringLiteral("A.JPG"));
    Picture(QStringLiteral("sub/x.png"));
    Picture(QStringLiteral("sub/deeper/x.bmp"));  // same name as sub/x.png: numbered
    Picture(QStringLiteral("photo.jpeg"));
    Picture(QStringLiteral("scan.pcd.png"));
    Picture(QStringLiteral(".hidden.png"));
    Picture(QStringLiteral(".hiddendir/h.png"));
    Picture(QStringLiteral("readonly.png"));
    QFile::setPermissions(in_ + QStringLiteral("/readonly.png"),
                          QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    QFile::link(in_ + QStringLiteral("/sub"), in_ + QStringLiteral("/linked"));
    test::WriteAll(in_ + QStringLiteral("/x.gif.bak"), "x");
    // The output directory inside the input tree is never walked.
    const QString nestedOut = in_ + QStringLiteral("/zout");
    QDir().mkpath(nestedOut);

    BatchRequest r = Request(true);
    r.outputDir = nestedOut;
    r.jobs = 1;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 5);
    // A folder's pictures before its subfolders' (within one, largest first).
    ASSERT_EQ(host_.finished.size(), 5);
    QStringList top = host_.finished.mid(0, 3);
    top.sort();
    EXPECT_EQ(top, (QStringList{QStringLiteral("A.JPG"), QStringLiteral("b.png"),
                                QStringLiteral("scan.pcd.png")}));
    EXPECT_EQ(host_.finished.mid(3),
              (QStringList{QStringLiteral("x.png"), QStringLiteral("x.bmp")}));
    EXPECT_EQ(QDir(nestedOut).entryList(QDir::Files, QDir::Name),
              (QStringList{QStringLiteral("A.jpg"), QStringLiteral("b.jpg"),
                           QStringLiteral("scan.pcd.jpg"), QStringLiteral("x (2).jpg"),
                           QStringLiteral("x.jpg")}));
    EXPECT_TRUE(host_.asked.last().startsWith(messages::kConfirmTree));

    // A second run replaces the first run's results rather than numbering.
    host_.finished.clear();
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 5);
    EXPECT_EQ(QDir(nestedOut).entryList(QDir::Files).size(), 5);
}

// Sizes out of name order; two of the pictures are damaged, and two want
// the same result name.
class LargestFirstTest : public BatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LargestFirstTest, WhileNamesAndTheReportKeepTheListingOrder) {
    Picture(QStringLiteral("a.bmp"), 40, 30);  // 3.6 KB
    Picture(QStringLiteral("a.png"), 400, 300);
    Picture(QStringLiteral("c.png"), 120, 90);
    test::WriteAll(in_ + QStringLiteral("/d.png"), QByteArray(5000, 'x'));
    test::WriteAll(in_ + QStringLiteral("/e.png"), QByteArray(50, 'x'));
    BatchRequest r = Request(
        GetParam(), {QStringLiteral("a.bmp"), QStringLiteral("a.png"), QStringLiteral("c.png"),
                     QStringLiteral("d.png"), QStringLiteral("e.png")});
    r.jobs = 1;
    r.existing = ExistingPolicy::Rename;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 5);
    EXPECT_EQ(host_.finished, (QStringList{QStringLiteral("a.png"), QStringLiteral("c.png"),
                                           QStringLiteral("d.png"), QStringLiteral("a.bmp"),
                                           QStringLiteral("e.png")}));
    EXPECT_EQ(FailedPaths(),
              (QStringList{in_ + QStringLiteral("/d.png"), in_ + QStringLiteral("/e.png")}));
    // a.bmp was met first, so it has the plain name though it was done last.
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/a.jpg"), QStringLiteral("%w")),
              QStringLiteral("40"));
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/a (2).jpg"), QStringLiteral("%w")),
              QStringLiteral("400"));
}

INSTANTIATE_TEST_SUITE_P(TreeAndList, LargestFirstTest, ::testing::Bool());

TEST_F(BatchTest, StopTakesEffectBetweenFilesAndUnreadableFoldersDoNotEndTheWalk) {
    for (int i = 0; i < 6; ++i)
        Picture(QStringLiteral("f%1.png").arg(i));
    Picture(QStringLiteral("sub/s.png"));
    host_.run = &run_;
    host_.stopAfter = 1;
    BatchRequest r = Request(true);
    r.jobs = 1;
    const int n = run_.RunBatch(r, job_, host_);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 3);  // the file in progress and the one already queued finish
    EXPECT_EQ(static_cast<int>(Outputs().size()), n);
    EXPECT_TRUE(run_.StopRequested);

    // A list run stops the same way.
    QDir(out_).removeRecursively();
    QDir().mkpath(out_);
    BatchRequest list = Request(
        false, {QStringLiteral("f0.png"), QStringLiteral("f1.png"), QStringLiteral("f2.png"),
                QStringLiteral("f3.png"), QStringLiteral("f4.png"), QStringLiteral("f5.png")});
    list.jobs = 1;
    EXPECT_LT(run_.RunBatch(list, job_, host_), 6);

    // A folder that cannot be listed is reported; Yes goes on with the rest.
    host_.stopAfter = 0;
    Picture(QStringLiteral("bad/b.png"));
    r.lister = [](const QString& d, QList<QFileInfo>* e) {
        if (d.endsWith(QStringLiteral("/bad")))
            return Status::Error(ErrorCode::DirectoryUnreadable, d);
        return ListDirectory(d, e);
    };
    host_.asked.clear();
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 7);
    EXPECT_EQ(host_.asked.last(),
              QStringLiteral("Error watermarking image. Error - 11\rDo you wish to continue?"));
    EXPECT_EQ(FailedPaths(), QStringList{in_ + QStringLiteral("/bad")});

    // No at the error ends the run: files not yet started are dropped,
    // nothing more is deleted, and the count is of the results written.
    // Pictures large enough that the walk reaches the bad folder while the
    // last ones are still waiting.
    const QString big = dir_.filePath(QStringLiteral("big"));
    QDir().mkpath(big + QStringLiteral("/bad"));
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(test::MakePhoto(1600, 1200).save(big + QStringLiteral("/g%1.png").arg(i)));
    QDir(out_).removeRecursively();
    QDir().mkpath(out_);
    r.inputDir = big;
    r.deleteSources = true;
    host_.answers = {true, false};  // confirm, then No at the error
    const int written = run_.RunBatch(r, job_, host_);
    EXPECT_EQ(written, run_.Written());
    EXPECT_EQ(static_cast<int>(Outputs().size()), written);
    EXPECT_LT(written, 6);
    EXPECT_FALSE(QFile::exists(out_ + QStringLiteral("/g5.jpg")));
    for (int i = 0; i < 6; ++i) {
        const bool kept = QFile::exists(big + QStringLiteral("/g%1.png").arg(i));
        const bool result = QFile::exists(out_ + QStringLiteral("/g%1.jpg").arg(i));
        EXPECT_TRUE(kept || result) << i;  // a deleted source always has its result
    }
}

TEST_F(BatchTest, DepthAndFormatRulesAndSafeDeletion) {
    struct Case {
        const char* source;
        OutputOption output;
        int depth;
        const char* target;
        int fileDepth;
    };
    const QString bmp = Picture(QStringLiteral("photo.bmp"));
    QFile::remove(bmp);
    test::Run(test::ConvertTool(), {Picture(QStringLiteral("p.png")), QStringLiteral("-type"),
                                    QStringLiteral("TrueColor"), QStringLiteral("BMP3:") + bmp});
    test::Run(test::ConvertTool(), {in_ + QStringLiteral("/p.png"), QStringLiteral("-colors"),
                                    QStringLiteral("64"), in_ + QStringLiteral("/anim.gif")});
    const QList<Case> cases = {
        {"photo.bmp", OutputOption::Jpg, 8, "photo.jpg", 24},
        {"p.png", OutputOption::Tif, 4, "p.tif", 4},
        {"anim.gif", OutputOption::Bmp, 24, "anim.bmp", 24},
        {"p.png", OutputOption::Gif, 24, "p.gif", 8},
        {"p.png", OutputOption::Tga, 8, "p.tga", 8},
        {"p.png", OutputOption::Pcx, 4, "p.pcx", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        BatchJob job;
        job.output = c.output;
        job.depth = c.depth;
        job.jpegQuality = 33;
        const QString target = out_ + u'/' + QString::fromLatin1(c.target);
        ASSERT_TRUE(
            WatermarkFile(job, in_ + u'/' + QString::fromLatin1(c.source), target, false).ok());
        HeaderInfo h;
        const QByteArray data = test::ReadAll(target);
        ASSERT_TRUE(ReadHeader(SniffKind(data, target), data, 3, &h).ok());
        EXPECT_EQ(h.depth, c.fileDepth);
    }
    EXPECT_EQ(test::Identify(out_ + QStringLiteral("/photo.jpg"), QStringLiteral("%Q")),
              QStringLiteral("33"));
    EXPECT_EQ(OutputName(QStringLiteral("README"), QStringLiteral(".jpg")),
              QStringLiteral("README.jpg"));
    EXPECT_EQ(OutputName(QStringLiteral("a.b.jpeg"), QStringLiteral(".tif")),
              QStringLiteral("a.b.tif"));

    // Deletion: only after a good write, and never of the result itself.
    const QString good = Picture(QStringLiteral("del/good.png"));
    const QString bad = in_ + QStringLiteral("/del/bad.png");
    test::WriteAll(bad, "not a picture");
    BatchJob job;
    EXPECT_TRUE(WatermarkFile(job, good, out_ + QStringLiteral("/good.jpg"), true).ok());
    EXPECT_FALSE(QFile::exists(good));
    EXPECT_FALSE(WatermarkFile(job, bad, out_ + QStringLiteral("/bad.jpg"), true).ok());
    EXPECT_TRUE(QFile::exists(bad));
    EXPECT_FALSE(QFile::exists(out_ + QStringLiteral("/bad.jpg")));
    const QString self = Picture(QStringLiteral("self.jpg"));
    EXPECT_TRUE(WatermarkFile(job, self, self, true).ok());
    EXPECT_TRUE(QFile::exists(self));
}

// Names stay within the system's limits, a walk of the root works, and the
// names another run holds are left to it.
TEST_F(BatchTest, NamesFitTheirLimitsAndClaimsKeepRunsApart) {
    // " (2)" on a name of 255 bytes shortens the stem, never cutting a
    // character in two.
    const QString longStem = QString(100, QChar(0x00E9)) + QString(50, u'x');  // 250 bytes
    const QString name = longStem + QStringLiteral(".png");
    EXPECT_EQ(QFile::encodeName(OutputName(name, QStringLiteral(".jpg"))).size(), 254);
    const QString numbered = NumberedName(OutputName(name, QStringLiteral(".jpeg")), 12);
    EXPECT_LE(QFile::encodeName(numbered).size(), 255);
    EXPECT_TRUE(numbered.endsWith(QStringLiteral("x (12).jpeg")));
    const QString accents = NumberedName(QString(127, QChar(0x00E9)) + QStringLiteral(".jpg"), 2);
    EXPECT_EQ(QFile::encodeName(accents).size(), 254);  // 124 whole characters, not 125.5
    EXPECT_FALSE(accents.contains(QChar::ReplacementCharacter));
    Picture(QStringLiteral("long/") + name);
    Picture(QStringLiteral("long/sub/") + name);
    BatchRequest r = Request(true);
    r.inputDir = in_ + QStringLiteral("/long");
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 2);
    EXPECT_TRUE(run_.Failures().isEmpty());
    EXPECT_EQ(Outputs().size(), 2);

    // A claim held by a live run moves this run to the next name; a claim
    // left by a run that died is cleared.
    Picture(QStringLiteral("c.png"));
    Picture(QStringLiteral("d.png"));
    {
        OutputNamer other(out_, ExistingPolicy::Replace, false);
        EXPECT_EQ(other.ClaimFor(QStringLiteral("c.png"), QStringLiteral(".jpg"), QString()).path,
                  out_ + QStringLiteral("/c.jpg"));
        test::WriteAll(out_ + QStringLiteral("/.velda-claim-") +
                           QString::fromLatin1(
                               QCryptographicHash::hash("d.jpg", QCryptographicHash::Sha1).toHex()),
                       ".velda-run-1-dead\nd.jpg");
        EXPECT_EQ(run_.RunBatch(Request(false, {QStringLiteral("c.png"), QStringLiteral("d.png")}),
                                job_, host_),
                  2);
        EXPECT_TRUE(QFile::exists(out_ + QStringLiteral("/c (2).jpg")));
        EXPECT_TRUE(QFile::exists(out_ + QStringLiteral("/d.jpg")));
    }
    EXPECT_EQ(QDir(out_).entryList({QStringLiteral(".velda*")}, QDir::Files | QDir::Hidden),
              QStringList());

    // Tree mode on the root folder: the walk starts at "/" itself. Only the
    // way down to our pictures is listed.
    const QString target = in_ + QStringLiteral("/long");
    r.inputDir = QStringLiteral("/");
    r.lister = [target](const QString& d, QList<QFileInfo>* e) {
        if (!target.startsWith(d)) return ListDirectory(d, e);
        const QString rest = target.mid(d.endsWith(u'/') ? d.size() : d.size() + 1);
        const QString next = rest.section(u'/', 0, 0);
        e->clear();
        if (d == target) return ListDirectory(d, e);
        e->append(QFileInfo(JoinPath(d, next)));
        return Status::Ok();
    };
    QDir(out_).removeRecursively();
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 2);
    EXPECT_TRUE(run_.Failures().isEmpty());
}

// The memory budget admits files by their estimate, fails one that alone
// exceeds it, and the process umask is never touched by workers.
TEST_F(BatchTest, MemoryBudgetAndPermissionsHoldUnderParallelWork) {
    MemoryBudget budget(100);
    EXPECT_EQ(budget.Acquire(101).code(), ErrorCode::TooLarge);
    ASSERT_TRUE(budget.Acquire(60).ok());
    std::atomic<bool> admitted{false};
    std::thread waiter([&] {
        EXPECT_TRUE(budget.Acquire(60).ok());
        admitted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(admitted);  // waits for the first file to finish
    budget.Release(60);
    waiter.join();
    EXPECT_TRUE(admitted);

    Picture(QStringLiteral("big.png"), 2000, 1500);
    BatchRequest r = Request(false, {QStringLiteral("big.png")});
    r.memoryBytes = 16 << 20;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 1);
    ASSERT_EQ(run_.Failures().size(), 1);
    EXPECT_TRUE(run_.Failures()[0].reason.contains(QStringLiteral("memory budget of 16 MiB")))
        << run_.Failures()[0].reason.toStdString();

    // Many results written by two workers at once get the umask's
    // permissions, and the umask stays what it was.
    const mode_t old = ::umask(022);
    for (int i = 0; i < 40; ++i)
        Picture(QStringLiteral("m/p%1.png").arg(i), 16, 16);
    r = Request(true);
    r.inputDir = in_ + QStringLiteral("/m");
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 40);
    const mode_t now = ::umask(old);
    EXPECT_EQ(now, 022);
    for (const QFileInfo& f : QDir(out_).entryInfoList(QDir::Files)) {
        EXPECT_EQ(static_cast<int>(f.permissions() & 0x0FFF) & 0x0222, 0x0200)
            << f.fileName().toStdString();
    }
}

// A Photo CD source is read at the job's resolution.
TEST_F(BatchTest, PhotoCdSourcesUseTheJobsResolution) {
    const QString pcd = in_ + QStringLiteral("/scan.pcd");
    test::Run(test::ConvertTool(), {Picture(QStringLiteral("s.png")), QStringLiteral("-resize"),
                                    QStringLiteral("768x512!"), QStringLiteral("PCD:") + pcd});
    BatchJob job;
    job.photoCdResolution = 1;
    ASSERT_TRUE(WatermarkFile(job, pcd, out_ + QStringLiteral("/scan.jpg"), false).ok());
    EXPECT_EQ(QImage(out_ + QStringLiteral("/scan.jpg")).width(), 192);
}

}  // namespace
}  // namespace velda
