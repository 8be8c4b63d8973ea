// Runs of both pages at once and edits in the middle of them: the window
// keeps answering, every run ends with its own summary, and Cancel stops
// each kind of run at once.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <QCheckBox>
#include <QLabel>
#include <QHeaderView>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QSplitter>
#include <QTableView>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>
#include <filesystem>
#include <fstream>

#include "tests/app/WindowTest.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

class WindowRuns : public WindowTest {
protected:
    // count archives a0000.zip ... of five small entries each, made by python.
    std::vector<std::string> SmallArchives(int count)
    {
        const std::string folder = dir / "many";
        EXPECT_EQ(testing_support::Run("python3 -c \"import zipfile,os\nos.makedirs('" + folder +
                                       "', exist_ok=True)\nfor a in range(" + std::to_string(count) +
                                       "):\n  with zipfile.ZipFile('" + folder +
                                       "/a%04d.zip' % a, 'w') as z:\n    for e in range(5): "
                                       "z.writestr('e%d.txt' % e, 'x' * e)\""),
                  0);
        std::vector<std::string> archives;
        for (int a = 0; a < count; ++a)
            archives.push_back(folder + "/a" + std::string(4 - std::to_string(a).size(), '0') + std::to_string(a) + ".zip");
        return archives;
    }
    // A file of size bytes that deflate cannot make much smaller: one block
    // of noise, each copy of it marked with its number.
    std::string BigFile(const std::string& name, size_t size)
    {
        const std::string path = dir / name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream out(path, std::ios::binary);
        std::string block(1 << 20, '\0');
        uint32_t x = 2463534242u;
        for (char& c : block) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = char(x);
        }
        for (size_t done = 0; done < size; done += block.size()) {
            block.replace(0, sizeof done, reinterpret_cast<const char*>(&done), sizeof done);
            out.write(block.data(), std::streamsize(std::min(block.size(), size - done)));
        }
        return path;
    }
    void SetZipItems(const QStringList& items, const std::string& destination)
    {
        ZipPageController& zip = form->ZipController();
        zip.RemoveAll();
        zip.AddItems(items);
        ZipOptions options = zip.Options();
        options.destination = Q(destination);
        options.storePaths = false;
        zip.SetOptions(options);
    }
    QString Status(const char* label) { return Find<QLabel>(label)->text(); }
};

}  // namespace

TEST_F(WindowRuns, EditsDuringAListingAndTwoRunsAtOnceAreSafe)
{
    const std::vector<std::string> many = SmallArchives(300);
    WriteFile(dir / "src/one.txt", "one");
    Open();

    // A creation run gives "View ZIP" something to show.
    SetZipItems({Q(dir / "src/one.txt")}, dir / "made");
    Run("btnZip");
    ASSERT_EQ(form->ZipController().LastCreated(), QStringList{Q(dir / "made/one.zip")});

    // While 300 archives are listed: remove one, add one, then "View ZIP".
    QStringList names;
    for (const std::string& a : many)
        names << Q(a);
    form->AddArchives(names);
    ASSERT_TRUE(form->UnZipController().Listing());
    Find<QListWidget>("ListBoxZipList")->setCurrentRow(0);
    Click("btnRemoveUnZip");
    form->AddArchives({Q(many[0])});
    Click("btnViewLastZip");
    WaitIdle();
    EXPECT_EQ(Archives(), std::vector<std::string>{dir / "made/one.zip"});
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Details()[0].fileName, "one.txt");
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: 1");

    // An extraction starts while a creation writes; the tabs change meanwhile.
    BigFile("src/big.bin", 60 << 20);
    SetZipItems({Q(dir / "src/big.bin")}, dir / "made");
    SetExtractFolder(dir / "out");
    Click("btnZip");
    ASSERT_TRUE(form->ZipController().Running());
    Click("btnExtractAll");
    EXPECT_TRUE(form->UnZipController().Busy());
    form->findChild<QTabWidget*>("PageControl1")->setCurrentIndex(0);
    WaitIdle();
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(ReadFile(dir / "out/one.txt"), "one");
    EXPECT_TRUE(fs::exists(dir / "made/big.zip"));
    EXPECT_EQ(Status("LabelUnZipStatus"), "Extracted 1 entry, skipped 0, failed 0.");
    EXPECT_TRUE(Status("LabelZipStatus").startsWith("Wrote 1 archive with 1 file")) << Status("LabelZipStatus").toStdString();
    for (const char* button : {"btnExtractAll", "btnExtractSelected", "btnSelectZIP", "btnRemoveUnZip", "btnZip"})
        EXPECT_TRUE(Find<QWidget>(button)->isEnabled()) << button;
    for (const char* button : {"btnUnZipCancel", "spZipCancel"})
        EXPECT_TRUE(Find<QWidget>(button)->isHidden()) << button;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The list hidden while the 300 archives are listed: it stays hidden
    // and empty once the listing ends.
    form->AddArchives(names);
    ASSERT_TRUE(form->UnZipController().Listing());
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    Find<QListWidget>("ListBoxZipList")->setCurrentRow(0);
    Click("btnRemoveUnZip");
    WaitIdle();
    EXPECT_EQ(Rows(), 0);
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: Hidden");
}

// "Prompt before overwrite": "No" keeps the file and asks again for the
// next one; "No to All" keeps it and every later one without asking.
TEST_F(WindowRuns, NoAsksAgainForTheNextFileNoToAllDoesNot)
{
    const std::vector<std::string> files{"a.txt", "b.txt", "c.txt"};
    for (const std::string& f : files)
        WriteFile(dir / ("src/" + f), f);
    const std::string archive = Zip("abc.zip", "a.txt b.txt c.txt");
    Open();
    SetExtractFolder(dir / "out");
    Find<QRadioButton>("R0")->setChecked(true);
    Add({archive});
    for (const auto& [reply, questions] : {std::pair{QMessageBox::No, 3}, {QMessageBox::NoToAll, 1}}) {
        SCOPED_TRACE(questions);
        for (const std::string& f : files)
            WriteFile(dir / ("out/" + f), "old");
        int asked = 0;
        form->UnZipController().AskOverwrite = [&](const QString&) {
            ++asked;
            return int(reply);
        };
        Run("btnExtractAll");
        EXPECT_EQ(asked, questions);
        for (const std::string& f : files)
            EXPECT_EQ(ReadFile(dir / ("out/" + f)), "old") << f;
    }
}

// Each long run in turn: the window keeps answering while it works, Cancel
// ends it, and nothing is left behind. How long the event loop waits and
// how soon a run ends once cancelled is measured by bench_window_runs.
TEST_F(WindowRuns, TheWindowAnswersDuringLongRunsAndCancelEndsThem)
{
    // 200 MB to extract and to compress; 50,000 files none of which
    // matches; an archive of 100,000 entries to delete from.
    BigFile("big/big.bin", 200 << 20);
    const std::string bigZip = dir / "big.zip";
    ASSERT_EQ(testing_support::Run("cd '" + dir.Path() + "/big' && zip -q -0 '" + bigZip + "' big.bin"), 0);
    // Making 50,000 files takes a minute on some disks, a second in memory.
    struct MemoryFolder {
        std::string path = fs::exists("/dev/shm") ? "/dev/shm/zamblok-tree-XXXXXX" : "/tmp/zamblok-tree-XXXXXX";
        MemoryFolder() { EXPECT_NE(mkdtemp(path.data()), nullptr); }
        ~MemoryFolder() { fs::remove_all(path); }
    } tree;
    ASSERT_EQ(testing_support::Run("python3 -c \"import os\nfor d in range(50):\n  os.makedirs('" + tree.path +
                                   "/d%d' % d)\n  for f in range(1000): open('" + tree.path +
                                   "/d%d/f%d.txt' % (d, f), 'w').close()\""),
              0);
    const std::string wide = dir / "wide.zip";
    ASSERT_EQ(testing_support::Run("python3 -c \"import zipfile\nwith zipfile.ZipFile('" + wide +
                                   "', 'w') as z:\n  for e in range(100000): z.writestr('e%d' % e, '')\""),
              0);
    Open();
    SetExtractFolder(dir / "out");

    struct LongRun {
        const char* what;
        std::function<void()> start;
        const char* cancel;
        std::function<bool()> ended;
    };
    const auto zipEnded = [&] { return !form->ZipController().Running(); };
    const auto unzipEnded = [&] { return !form->UnZipController().Busy(); };
    const LongRun runs[] = {
        {"extraction",
         [&] {
             form->UnZipController().SetArchives({Q(bigZip)});
             WaitIdle();
             Click("btnExtractAll");
         },
         "btnUnZipCancel", unzipEnded},
        {"creation",
         [&] {
             SetZipItems({Q(dir / "big/big.bin")}, dir / "made");
             Click("btnZip");
         },
         "spZipCancel", zipEnded},
        {"gathering",
         [&] {
             SetZipItems({Q(tree.path + "/*.none")}, dir / "made");
             Click("btnZip");
         },
         "spZipCancel", zipEnded},
        {"deletion",
         [&] {
             form->UnZipController().SetArchives({Q(wide)});
             WaitIdle();
             Click("btnSelectall");
             QTest::qWait(20);  // the window draws the selection of 100,000 rows first
             Click("btnDeleteSelectedFiles");
         },
         "btnUnZipCancel", unzipEnded},
    };
    for (const LongRun& run : runs) {
        SCOPED_TRACE(run.what);
        run.start();
        ASSERT_FALSE(run.ended());
        // The window answers: a timer of its own fires while the run works.
        int ticks = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
        ticker.start(10);
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 3 || run.ended(); }, 60000));
        ASSERT_FALSE(run.ended()) << "ended before it could be cancelled";
        Click(run.cancel);
        EXPECT_TRUE(QTest::qWaitFor(run.ended, 60000));
        WaitIdle();
        messages.clear();
    }
    // Nothing half written is left: no extracted file, no archive, no
    // temporary copy, and the archive deleted from is whole.
    EXPECT_FALSE(fs::exists(dir / "out/big.bin"));
    EXPECT_TRUE(!fs::exists(dir / "made") || fs::is_empty(dir / "made"));
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".ZBK")) << entry.path();
    EXPECT_EQ(testing_support::Run("unzip -tq '" + wide + "' > /dev/null"), 0);
}

// Exit or the close box during a run of either page asks first: No keeps the
// run and the window; Yes cancels the run and closes the window once it has
// ended, also when it ended by itself while the question was open. A
// listing is stopped without a question.
TEST_F(WindowRuns, QuittingDuringARunAsksFirst)
{
    BigFile("src/big.bin", 100 << 20);
    const std::string bigZip = dir / "big.zip";
    ASSERT_EQ(testing_support::Run("cd '" + dir.Path() + "/src' && zip -q -0 '" + bigZip + "' big.bin"), 0);
    QStringList many;
    for (const std::string& a : SmallArchives(300))
        many << Q(a);
    enum Kind { Creation, Extraction, Listing };
    struct Case {
        const char* what;
        Kind kind;
        const char* quit;    // the Exit button, or nothing for the close box
        int answer;
        bool waitForTheEnd;  // the run ends while the question is open
        bool closed;
    };
    const Case cases[] = {
        {"No to Exit during a creation", Creation, "SpExit", platform::idNo, false, false},
        {"Yes to the close box during a creation", Creation, nullptr, platform::idYes, false, true},
        {"Yes to Exit during an extraction", Extraction, "SpeedButton24", platform::idYes, false, true},
        {"Yes once the extraction has ended", Extraction, nullptr, platform::idYes, true, true},
        {"the close box during a listing", Listing, nullptr, platform::idNo, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open();
        std::vector<std::string> asked;
        platform::InstalledHooks().MessageBox = [&](const std::string& text, const std::string&, unsigned) {
            asked.push_back(text);
            if (c.waitForTheEnd) {
                EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Running(); }, 60000));
            }
            return c.answer;
        };
        if (c.kind == Creation) {
            SetZipItems({Q(dir / "src/big.bin")}, dir / "made");
            Click("btnZip");
        } else if (c.kind == Extraction) {
            form->UnZipController().SetArchives({Q(bigZip)});
            WaitIdle();
            SetExtractFolder(dir / "out");
            Click("btnExtractAll");
            // The quit comes while the entry is being written.
            ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir / "out/big.bin") || !form->Running(); }, 60000));
        } else {
            form->AddArchives(many);
        }
        ASSERT_TRUE(form->Running());
        if (c.quit)
            Click(c.quit);
        else
            form->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return form->isHidden() == c.closed && !form->Running(); }, 60000));
        EXPECT_EQ(form->isHidden(), c.closed);
        // The quit is the only question: the cancel it makes says nothing more.
        EXPECT_EQ(asked, c.kind == Listing ? std::vector<std::string>{}
                                           : std::vector<std::string>{"A run is under way. Cancel it and quit?"});
        // A run cancelled leaves no file half written; one let go writes it whole.
        if (c.kind != Listing) {
            const std::string output = c.kind == Creation ? dir / "made/big.zip" : dir / "out/big.bin";
            EXPECT_EQ(fs::exists(output), !c.closed || c.waitForTheEnd);
        }
        fs::remove_all(dir / "made");
        fs::remove_all(dir / "out");
    }
}

// A question the run asks while the user is asked about quitting is not
// put once the user has said Yes: the quit waits on nothing more.
TEST_F(WindowRuns, AQuitPutsNoQuestionOfTheRun)
{
    WriteFile(dir / "src/a.txt", "new");
    const std::string archive = Zip("a.zip", "a.txt");
    WriteFile(dir / "out/a.txt", "old");
    Open();
    SetExtractFolder(dir / "out");
    Find<QRadioButton>("R0")->setChecked(true);
    Add({archive});
    int overwrites = 0;
    form->UnZipController().AskOverwrite = [&](const QString&) {
        ++overwrites;
        return int(QMessageBox::Yes);
    };
    std::vector<std::string> asked;
    platform::InstalledHooks().MessageBox = [&](const std::string& text, const std::string&, unsigned) {
        asked.push_back(text);
        // The run reaches its overwrite question meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return platform::idYes;
    };
    Click("btnExtractAll");
    form->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->isHidden() && !form->Running(); }, 60000));
    EXPECT_EQ(asked, std::vector<std::string>{"A run is under way. Cancel it and quit?"});
    EXPECT_EQ(overwrites, 0);
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "old");
}

// The window comes back with the size, place, splitters and columns the
// user left, fitted to the screen; at its smallest it fits a screen of 1280x720.
TEST_F(WindowRuns, TheWindowComesBackAsItWasLeft)
{
    Open();
    auto* pages = Find<QTabWidget>("PageControl1");
    for (int page : {0, 1}) {
        pages->setCurrentIndex(page);
        const QSize smallest = form->minimumSizeHint();
        EXPECT_LE(smallest.width(), 1280) << page;
        EXPECT_LE(smallest.height(), 720 - 60) << page;  // room for a title bar and a panel
    }
    const auto splitter = [&](QWidget* page) { return page->findChild<QSplitter*>(); };
    const auto columns = [&] { return Find<QTableView>("ListBoxFileDetail")->horizontalHeader(); };
    const QRect place(40, 30, 1000, 680);
    form->setGeometry(place);
    pages->setCurrentIndex(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return splitter(form->ZipView())->width() > 900; }));
    splitter(form->ZipView())->setSizes({400, 560});
    pages->setCurrentIndex(1);
    splitter(form->UnZipView())->setSizes({300, 660});
    columns()->resizeSection(1, 321);
    const QList<int> zipSizes = splitter(form->ZipView())->sizes(), unzipSizes = splitter(form->UnZipView())->sizes();
    form->close();
    Open();
    EXPECT_EQ(form->geometry(), place);
    EXPECT_EQ(splitter(form->ZipView())->sizes(), zipSizes);
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    EXPECT_EQ(splitter(form->UnZipView())->sizes(), unzipSizes);
    EXPECT_EQ(columns()->sectionSize(1), 321);

    // A size kept from a larger screen is fitted to this one.
    const QRect screen = form->screen()->availableGeometry();
    form->setGeometry(QRect(QPoint(100, 60), screen.size() + QSize(200, 100)));
    form->close();
    Open();
    const QRect frame = form->frameGeometry();
    EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y() << " " << frame.width() << "x" << frame.height();
}
