// The window of a file manager's actions: extraction beside each archive or
// into a folder of its own, the overwrite question, and one archive per
// selected file or folder.
#include <gtest/gtest.h>

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTranslator>
#include <algorithm>
#include <filesystem>
#include <random>

#include "app/DesktopActionWindow.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

class DesktopAction : public ::testing::Test {
protected:
    void TearDown() override { platform::InstalledHooks() = {}; }

    // Runs action on files and waits for its end; returns the status line.
    QString RunAction(DesktopActionWindow::Action action, const QStringList& files,
                      std::function<void(DesktopActionWindow&)> script = {})
    {
        window = std::make_unique<DesktopActionWindow>(action, files, settings());
        if (script)
            script(*window);
        window->show();
        window->Start();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->Running() && finished(); }, 60000));
        return window->findChild<QLabel*>("status")->text();
    }
    QString settings() { return QString::fromStdString(dir / "settings.ini"); }
    bool finished() { return window->findChild<QPushButton*>("btnCancel")->text() == "Close"; }

    // The stored names of an archive, one a line, as unzip lists them.
    std::string Names(const std::string& archive)
    {
        std::string out;
        EXPECT_EQ(testing_support::Run("unzip -Z1 '" + archive + "' | sort", &out), 0);
        return out;
    }

    testing_support::TempDir dir;
    std::unique_ptr<DesktopActionWindow> window;
};

TEST_F(DesktopAction, ExtractsEachArchiveBesideItselfOrIntoItsOwnFolder)
{
    for (const char* folder : {"a", "b", "src/docs"})
        fs::create_directories(dir / folder);
    WriteFile(dir / "src/docs/one.txt", "one");
    WriteFile(dir / "src/two.txt", "two");
    ASSERT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -qr ../a/first.zip docs && zip -q ../b/second.zip two.txt"), 0);
    const QStringList archives = {QString::fromStdString(dir / "a/first.zip"),
                                  QString::fromStdString(dir / "b/second.zip")};

    const QString summary = RunAction(DesktopActionWindow::Action::ExtractHere, archives);
    EXPECT_EQ(ReadFile(dir / "a/docs/one.txt"), "one");
    EXPECT_EQ(ReadFile(dir / "b/two.txt"), "two");
    // One run, and one line of summary, per folder.
    EXPECT_EQ(summary, QString::fromStdString(dir / "a: Extracted 1 entry, skipped 0, failed 0.\n" + dir.Path() +
                                              "/b: Extracted 1 entry, skipped 0, failed 0."));

    // A file named as the folder would be stays; the next free name is taken.
    WriteFile(dir / "b/second", "a file");
    RunAction(DesktopActionWindow::Action::ExtractSubfolders, archives);
    EXPECT_EQ(ReadFile(dir / "a/first/docs/one.txt"), "one");
    EXPECT_EQ(ReadFile(dir / "b/second_1/two.txt"), "two");
    EXPECT_EQ(ReadFile(dir / "b/second"), "a file");
}

// Names without the UTF-8 flag are read in the code page the main window
// keeps: a second byte 0x5C is part of the character, not a folder.
TEST_F(DesktopAction, ReadsNamesInTheCodePageOfTheWindow)
{
    WriteFile(dir / "settings.ini", "[UnZip Options]\nNames Code Page=CP932\n");
    WriteFile(dir / "jp.zip", testing_support::AssembleZip({{"\x95\x5c\x8e\xa6.txt", "hi"}}));
    RunAction(DesktopActionWindow::Action::ExtractSubfolders, {QString::fromStdString(dir / "jp.zip")});
    EXPECT_EQ(ReadFile(dir / "jp/表示.txt"), "hi");
}

TEST_F(DesktopAction, ThePartsOfASetSelectedTogetherAreExtractedOnce)
{
    fs::create_directories(dir / "src");
    std::string noise(200000, '\0');
    std::mt19937 random(7);
    std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
    WriteFile(dir / "src/info.bin", noise);
    WriteFile(dir / "src/seven.bin", noise);
    ASSERT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -qs 64k ../info.zip info.bin && "
                                   "7zz a -bd -tzip -v90k ../seven.zip seven.bin >/dev/null"),
              0);
    QStringList parts;
    for (const char* part : {"info.z01", "info.z02", "info.zip", "seven.zip.001", "seven.zip.002", "seven.zip.003"})
        parts << QString::fromStdString(dir / part);
    int asked = 0;
    const QString summary = RunAction(DesktopActionWindow::Action::ExtractHere, parts, [&](DesktopActionWindow& w) {
        w.Extraction().AskOverwrite = [&](const QString&) { return ++asked, int(QMessageBox::No); };
    });
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(ReadFile(dir / "info.bin"), noise);
    EXPECT_EQ(ReadFile(dir / "seven.bin"), noise);
    EXPECT_EQ(summary.toStdString(), "Extracted 2 entries, skipped 0, failed 0.");
}

TEST_F(DesktopAction, AsksBeforeReplacingAnExistingFile)
{
    fs::create_directories(dir / "src");
    WriteFile(dir / "src/a.txt", "new a");
    WriteFile(dir / "src/b.txt", "new b");
    ASSERT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -q ../x.zip a.txt b.txt"), 0);
    WriteFile(dir / "a.txt", "old a");
    WriteFile(dir / "b.txt", "old b");

    QStringList asked;
    RunAction(DesktopActionWindow::Action::ExtractHere, {QString::fromStdString(dir / "x.zip")},
              [&](DesktopActionWindow& w) {
                  w.Extraction().AskOverwrite = [&](const QString& text) {
                      asked << text;
                      return int(asked.size() == 1 ? QMessageBox::Yes : QMessageBox::No);
                  };
              });
    ASSERT_EQ(asked.size(), 2);
    EXPECT_TRUE(asked[0].contains("a.txt")) << asked[0].toStdString();
    EXPECT_EQ(ReadFile(dir / "a.txt"), "new a");
    EXPECT_EQ(ReadFile(dir / "b.txt"), "old b");
}

TEST_F(DesktopAction, CompressesEachFileAndFolderBesideItWithNamesRelativeToIt)
{
    fs::create_directories(dir / "photos/sub");
    fs::create_directories(dir / "other");
    WriteFile(dir / "photos/a.jpg", "a");
    WriteFile(dir / "photos/sub/b.jpg", "b");
    WriteFile(dir / "notes.txt", "notes");
    WriteFile(dir / "notes.zip", "a name that is taken");
    WriteFile(dir / "other/report.txt", "report");

    const QString summary = RunAction(DesktopActionWindow::Action::ZipEach,
                                      {QString::fromStdString(dir / "photos"), QString::fromStdString(dir / "notes.txt"),
                                       QString::fromStdString(dir / "other/report.txt"),
                                       QString::fromStdString(dir / "gone.txt")});
    EXPECT_EQ(Names(dir / "photos.zip"), "photos/a.jpg\nphotos/sub/b.jpg\n");
    EXPECT_EQ(Names(dir / "notes_1.zip"), "notes.txt\n");
    EXPECT_EQ(ReadFile(dir / "notes.zip"), "a name that is taken");
    EXPECT_EQ(Names(dir / "other/report.zip"), "report.txt\n");
    EXPECT_TRUE(summary.startsWith("Wrote 3 archives with 4 files; skipped 1.")) << summary.toStdString();
    const QString report = window->findChild<QWidget*>("report")->property("plainText").toString();
    EXPECT_TRUE(report.contains("gone.txt")) << report.toStdString();
}

TEST_F(DesktopAction, CancelStopsTheArchiveUnderWayAndTheRestAndTheWindowSaysSo)
{
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    // A first file that takes a while, so that Cancel comes while it is written.
    std::string noise(64 << 20, '\0');
    std::mt19937 random(27);
    std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
    WriteFile(dir / "a/big.bin", noise);
    WriteFile(dir / "b/two.txt", "two");
    window = std::make_unique<DesktopActionWindow>(
        DesktopActionWindow::Action::ZipEach,
        QStringList{QString::fromStdString(dir / "a/big.bin"), QString::fromStdString(dir / "b/two.txt")}, settings());
    window->show();
    window->Start();
    window->findChild<QPushButton*>("btnCancel")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished(); }, 60000));
    const QString summary = window->findChild<QLabel*>("status")->text();
    EXPECT_TRUE(summary.endsWith("Cancelled.")) << summary.toStdString();
    EXPECT_FALSE(fs::exists(dir / "a/big.zip"));  // the archive under way is removed
    EXPECT_FALSE(fs::exists(dir / "b/two.zip"));
}

// Closing the window during an extraction stops it and the window goes
// once it has ended, with no message to dismiss first.
TEST_F(DesktopAction, ClosingDuringAnExtractionQuitsWithoutAQuestion)
{
    std::string noise(64 << 20, '\0');
    std::mt19937 random(27);
    std::generate(noise.begin(), noise.end(), [&] { return char(random()); });
    WriteFile(dir / "src/big.bin", noise);
    ASSERT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -q -0 ../big.zip big.bin"), 0);
    window = std::make_unique<DesktopActionWindow>(DesktopActionWindow::Action::ExtractHere,
                                                   QStringList{QString::fromStdString(dir / "big.zip")}, settings());
    // After the window, which puts its own boxes in place.
    std::vector<std::string> messages;
    platform::InstalledHooks().MessageBox = [&](const std::string& text, const std::string&, unsigned) {
        messages.push_back(text);
        return platform::idOK;
    };
    window->show();
    window->Start();
    // Closed while the entry is being written.
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir / "big.bin") || !window->Running(); }, 60000));
    ASSERT_TRUE(window->Running());
    window->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isHidden(); }, 60000));
    EXPECT_FALSE(window->Running());
    EXPECT_EQ(messages, std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir / "big.bin"));
}

TEST_F(DesktopAction, ShowsGermanTextsWithTheGermanTranslationAndEnglishWithout)
{
    const auto texts = [] {
        DesktopActionWindow w(DesktopActionWindow::Action::ZipEach, {}, {});
        return w.windowTitle() + "|" + w.findChild<QPushButton*>("btnCancel")->text();
    };
    EXPECT_EQ(texts(), "Compress each into its own ZIP|Cancel");
    QTranslator german;
    ASSERT_TRUE(german.load(QLocale(QLocale::German, QLocale::Germany), "zamblok", "_", ZAMBLOK_TRANSLATIONS_DIR));
    QCoreApplication::installTranslator(&german);
    EXPECT_EQ(texts(), "Jedes in ein eigenes ZIP packen|Abbrechen");
    QCoreApplication::removeTranslator(&german);
}

}  // namespace
