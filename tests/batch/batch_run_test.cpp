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

using namespace Qt::StringLiterals;

namespace velda {
namespace {

// Answers the run's questions from a script and records what it was told.
class ScriptedHost : public BatchHost {
  public:
    bool Ask(Question, const QString& text, Icon) override {
        std::lock_guard lock(m);
        asked.append(text);
        return answers.isEmpty() ? true : answers.takeFirst();
    }
    void Inform(Notice, const QString& text, Icon) override {
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
        in_ = dir_.filePath(u"in"_s);
        out_ = dir_.filePath(u"out"_s);
        QDir().mkpath(in_);
        QDir().mkpath(out_);
    }
    QString Picture(const QString& relative, int w = 40, int h = 30) {
        const QString path = in_ + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        const QImage img = test::MakePhoto(w, h);
        EXPECT_TRUE(
            img.save(path, relative.endsWith(u".gif"_s, Qt::CaseInsensitive) ? "png" : nullptr))
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

    BatchRequest r = Request(false, {u"a.png"_s});
    r.outputDir = dir_.filePath(u"new"_s);
    host_.answers = {false};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.asked.last(), messages::kOutputMissing);
    EXPECT_FALSE(QFileInfo::exists(r.outputDir));

    r.outputDir = dir_.filePath(u"no/parent"_s);
    host_.answers = {true};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.told.last(), messages::kErrorCreatingOutput + u"\rNo such file or directory"_s);

    // One directory named three ways is the same directory.
    QFile::link(in_, dir_.filePath(u"alias"_s));
    for (const QString& same : {in_ + u'/', out_ + u"/../in"_s, dir_.filePath(u"alias"_s)}) {
        r.outputDir = same;
        host_.told.clear();
        EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
        EXPECT_EQ(host_.told, QStringList{messages::kOutputSameAsSource}) << same.toStdString();
    }

    r.outputDir = out_;
    host_.answers = {false};
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 0);
    EXPECT_EQ(host_.asked.last(), u"You have selected to watermark the selected files from, "_s +
                                      in_ + u", to "_s + out_ +
                                      u"  Continue ?\r1 file, saved as "_s +
                                      QLatin1String(Format(job_.output).title) + u"."_s);
    EXPECT_FALSE(run_.Started());
    EXPECT_TRUE(Outputs().isEmpty());

    // A list with a missing file still counts it, and names it as failed.
    // Names are taken as given: a leading blank is part of the name.
    Picture(u"b.png"_s);
    Picture(u" b.png"_s);
    EXPECT_EQ(run_.RunBatch(Request(false, {u" b.png"_s, u"gone.png"_s}), job_, host_), 2);
    EXPECT_EQ(Outputs(), QStringList{u" b.jpg"_s});
    EXPECT_EQ(FailedPaths(), QStringList{in_ + u"/gone.png"_s});
    EXPECT_TRUE(run_.Failures()[0].reason.startsWith(u"file not found"_s));
}

TEST_F(BatchTest, TreeWalkTakesPicturesInOrderAndSkipsWhatItMust) {
    Picture(u"b.png"_s);
    Picture(u"A.JPG"_s);
    Picture(u"sub/x.png"_s);
    Picture(u"sub/deeper/x.bmp"_s);  // same name as sub/x.png: numbered
    Picture(u"photo.jpeg"_s);
    Picture(u"scan.pcd.png"_s);
    Picture(u".hidden.png"_s);
    Picture(u".hiddendir/h.png"_s);
    Picture(u"readonly.png"_s);
    QFile::setPermissions(in_ + u"/readonly.png"_s,
                          QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    QFile::link(in_ + u"/sub"_s, in_ + u"/linked"_s);
    test::WriteAll(in_ + u"/x.gif.bak"_s, "x");
    // The output directory inside the input tree is never walked.
    const QString nestedOut = in_ + u"/zout"_s;
    QDir().mkpath(nestedOut);

    BatchRequest r = Request(true);
    r.outputDir = nestedOut;
    r.jobs = 1;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 6);
    // A folder's pictures before its subfolders' (within one, largest first).
    ASSERT_EQ(host_.finished.size(), 6);
    QStringList top = host_.finished.mid(0, 4);
    top.sort();
    EXPECT_EQ(top, (QStringList{u"A.JPG"_s, u"b.png"_s, u"photo.jpeg"_s, u"scan.pcd.png"_s}));
    EXPECT_EQ(host_.finished.mid(4), (QStringList{u"x.png"_s, u"x.bmp"_s}));
    EXPECT_EQ(QDir(nestedOut).entryList(QDir::Files, QDir::Name),
              (QStringList{u"A.jpg"_s, u"b.jpg"_s, u"photo.jpg"_s, u"scan.pcd.jpg"_s,
                           u"x (2).jpg"_s, u"x.jpg"_s}));
    EXPECT_TRUE(host_.asked.last().startsWith(messages::kConfirmTree));

    // The output folder lies inside the tree: its pictures are the tree's
    // too, and a second run numbers its results rather than replace them.
    host_.finished.clear();
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 6);
    EXPECT_EQ(QDir(nestedOut).entryList(QDir::Files).size(), 12);
    EXPECT_TRUE(QFileInfo::exists(nestedOut + u"/photo (2).jpg"_s));
}

// Sizes out of name order; two of the pictures are damaged, and two want
// the same result name.
class LargestFirstTest : public BatchTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LargestFirstTest, WhileNamesAndTheReportKeepTheListingOrder) {
    Picture(u"a.bmp"_s, 40, 30);  // 3.6 KB
    Picture(u"a.png"_s, 400, 300);
    Picture(u"c.png"_s, 120, 90);
    test::WriteAll(in_ + u"/d.png"_s, QByteArray(5000, 'x'));
    test::WriteAll(in_ + u"/e.png"_s, QByteArray(50, 'x'));
    BatchRequest r =
        Request(GetParam(), {u"a.bmp"_s, u"a.png"_s, u"c.png"_s, u"d.png"_s, u"e.png"_s});
    r.jobs = 1;
    r.existing = ExistingPolicy::Rename;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 5);
    EXPECT_EQ(host_.finished,
              (QStringList{u"a.png"_s, u"c.png"_s, u"d.png"_s, u"a.bmp"_s, u"e.png"_s}));
    EXPECT_EQ(FailedPaths(), (QStringList{in_ + u"/d.png"_s, in_ + u"/e.png"_s}));
    // a.bmp was met first, so it has the plain name though it was done last.
    EXPECT_EQ(test::Identify(out_ + u"/a.jpg"_s, u"%w"_s), u"40"_s);
    EXPECT_EQ(test::Identify(out_ + u"/a (2).jpg"_s, u"%w"_s), u"400"_s);
}

INSTANTIATE_TEST_SUITE_P(TreeAndList, LargestFirstTest, ::testing::Bool());

TEST_F(BatchTest, StopTakesEffectBetweenFilesAndUnreadableFoldersDoNotEndTheWalk) {
    for (int i = 0; i < 6; ++i)
        Picture(u"f%1.png"_s.arg(i));
    Picture(u"sub/s.png"_s);
    host_.run = &run_;
    host_.stopAfter = 1;
    BatchRequest r = Request(true);
    r.jobs = 1;
    const int n = run_.RunBatch(r, job_, host_);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 3);  // the file in progress and the one already queued finish
    EXPECT_EQ(static_cast<int>(Outputs().size()), n);
    EXPECT_TRUE(run_.StopRequested);

    // A folder that cannot be listed is reported; Yes goes on with the rest.
    host_.stopAfter = 0;
    Picture(u"bad/b.png"_s);
    r.lister = [](const QString& d, QList<QFileInfo>* e) {
        if (d.endsWith(u"/bad"_s)) return Status::Error(ErrorCode::DirectoryUnreadable, d);
        return ListDirectory(d, e);
    };
    host_.asked.clear();
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 7);
    EXPECT_EQ(host_.asked.last(),
              u"Error watermarking image. Error - 11\rDo you wish to continue?"_s);
    EXPECT_EQ(FailedPaths(), QStringList{in_ + u"/bad"_s});

    // No at the error ends the run: files not yet started are dropped,
    // nothing more is deleted, and the count is of the results written.
    // Pictures large enough that the walk reaches the bad folder while the
    // last ones are still waiting.
    const QString big = dir_.filePath(u"big"_s);
    QDir().mkpath(big + u"/bad"_s);
    for (int i = 0; i < 6; ++i)
        ASSERT_TRUE(test::MakePhoto(1600, 1200).save(big + u"/g%1.png"_s.arg(i)));
    QDir(out_).removeRecursively();
    QDir().mkpath(out_);
    r.inputDir = big;
    r.deleteSources = true;
    host_.answers = {true, false};  // confirm, then No at the error
    const int written = run_.RunBatch(r, job_, host_);
    EXPECT_EQ(written, run_.Written());
    EXPECT_EQ(static_cast<int>(Outputs().size()), written);
    EXPECT_LT(written, 6);
    EXPECT_FALSE(QFile::exists(out_ + u"/g5.jpg"_s));
    for (int i = 0; i < 6; ++i) {
        const bool kept = QFile::exists(big + u"/g%1.png"_s.arg(i));
        const bool result = QFile::exists(out_ + u"/g%1.jpg"_s.arg(i));
        EXPECT_TRUE(kept || result) << i;  // a deleted source always has its result
    }
}

// Every format at every depth is held to the byte by the golden test; here,
// the names results take and a source that is its own result.
TEST_F(BatchTest, ResultNamesAndSafeDeletion) {
    EXPECT_EQ(OutputName(u"README"_s, u".jpg"_s), u"README.jpg"_s);
    EXPECT_EQ(OutputName(u"a.b.jpeg"_s, u".tif"_s), u"a.b.tif"_s);

    // A result that is its own source is never deleted.
    const QString self = Picture(u"self.jpg"_s);
    EXPECT_TRUE(WatermarkFile(job_, self, self, true).ok());
    EXPECT_TRUE(QFile::exists(self));
}

// Names stay within the system's limits, a walk of the root works, and the
// names another run holds are left to it.
TEST_F(BatchTest, NamesFitTheirLimitsAndClaimsKeepRunsApart) {
    // " (2)" on a name of 255 bytes shortens the stem, never cutting a
    // character in two.
    const QString longStem = QString(100, QChar(0x00E9)) + QString(50, u'x');  // 250 bytes
    const QString name = longStem + u".png"_s;
    EXPECT_EQ(QFile::encodeName(OutputName(name, u".jpg"_s)).size(), 254);
    const QString numbered = NumberedName(OutputName(name, u".jpeg"_s), 12);
    EXPECT_LE(QFile::encodeName(numbered).size(), 255);
    EXPECT_TRUE(numbered.endsWith(u"x (12).jpeg"_s));
    const QString accents = NumberedName(QString(127, QChar(0x00E9)) + u".jpg"_s, 2);
    EXPECT_EQ(QFile::encodeName(accents).size(), 254);  // 124 whole characters, not 125.5
    EXPECT_FALSE(accents.contains(QChar::ReplacementCharacter));
    // A name of any length (a template's tokens) is cut as well, to the
    // longest that fits, characters beyond the basic plane kept whole; and
    // a name that would be hidden is shown.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString huge = StemName(QString(400'000, u'a') + emoji.repeated(100'000), u".jpg"_s);
    EXPECT_EQ(huge, QString(251, u'a') + u".jpg"_s);
    const QString pairs = StemName(emoji.repeated(100'000), u".webp"_s);
    EXPECT_EQ(pairs, emoji.repeated(62) + u".webp"_s);  // 248 + 5 bytes; 63 would be 257
    EXPECT_EQ(StemName(u".hidden"_s, u".jpg"_s), u"_.hidden.jpg"_s);
    EXPECT_EQ(OutputName(u".jpg"_s, u".png"_s), u"_.png"_s);
    Picture(u"long/"_s + name);
    Picture(u"long/sub/"_s + name);
    BatchRequest r = Request(true);
    r.inputDir = in_ + u"/long"_s;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 2);
    EXPECT_TRUE(run_.Failures().isEmpty());
    EXPECT_EQ(Outputs().size(), 2);

    // A claim held by a live run moves this run to the next name; a claim
    // left by a run that died is cleared.
    Picture(u"c.png"_s);
    Picture(u"d.png"_s);
    {
        OutputNamer other(out_, ExistingPolicy::Replace, false);
        EXPECT_EQ(other.ClaimFor(u"c.png"_s, u".jpg"_s, QString()).path, out_ + u"/c.jpg"_s);
        test::WriteAll(out_ + u"/.velda-claim-"_s +
                           QString::fromLatin1(
                               QCryptographicHash::hash("d.jpg", QCryptographicHash::Sha1).toHex()),
                       ".velda-run-1-dead\nd.jpg");
        EXPECT_EQ(run_.RunBatch(Request(false, {u"c.png"_s, u"d.png"_s}), job_, host_), 2);
        EXPECT_TRUE(QFile::exists(out_ + u"/c (2).jpg"_s));
        EXPECT_TRUE(QFile::exists(out_ + u"/d.jpg"_s));
    }
    EXPECT_EQ(QDir(out_).entryList({u".velda*"_s}, QDir::Files | QDir::Hidden), QStringList());

    // Tree mode on the root folder: the walk starts at "/" itself. Only the
    // way down to our pictures is listed.
    const QString target = in_ + u"/long"_s;
    r.inputDir = u"/"_s;
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

    Picture(u"big.png"_s, 2000, 1500);
    BatchRequest r = Request(false, {u"big.png"_s});
    r.memoryBytes = 16 << 20;
    EXPECT_EQ(run_.RunBatch(r, job_, host_), 1);
    ASSERT_EQ(run_.Failures().size(), 1);
    EXPECT_TRUE(run_.Failures()[0].reason.contains(u"memory budget of 16 MiB"_s))
        << run_.Failures()[0].reason.toStdString();

    // Many results written by two workers at once get the umask's
    // permissions, and the umask stays what it was.
    const mode_t old = ::umask(022);
    for (int i = 0; i < 40; ++i)
        Picture(u"m/p%1.png"_s.arg(i), 16, 16);
    r = Request(true);
    r.inputDir = in_ + u"/m"_s;
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
    const QString pcd = in_ + u"/scan.pcd"_s;
    test::Run(test::ConvertTool(),
              {Picture(u"s.png"_s), u"-resize"_s, u"768x512!"_s, u"PCD:"_s + pcd});
    BatchJob job;
    job.photoCdResolution = 1;
    ASSERT_TRUE(WatermarkFile(job, pcd, out_ + u"/scan.jpg"_s, false).ok());
    EXPECT_EQ(QImage(out_ + u"/scan.jpg"_s).width(), 192);
}

}  // namespace
}  // namespace velda
