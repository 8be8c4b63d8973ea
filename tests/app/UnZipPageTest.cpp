// The main window and its "Multiple UnZIP" page, driven as a user would:
// clicks and keys on controls found by name, questions answered by script,
// over archives that Info-ZIP makes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QTableView>
#include <QTabWidget>
#include <QMimeData>
#include <QTextBrowser>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/IniFile.h"
#include "platform/CodePage.h"
#include "ui/Drops.h"
#include "ui/FolderEdit.h"
#include "tests/app/WindowTest.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
class UnZipWindow : public WindowTest {};
}  // namespace

TEST_F(UnZipWindow, SettingsStartAtTheirDefaultsAndAreWrittenAtClose)
{
    Open();
    EXPECT_TRUE(Find<QRadioButton>("R2")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("ChAotoDisplay")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("ChCreateSubFolder")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("ChUseOrigPath")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>("RaMultipleZIP")->isChecked());
    EXPECT_EQ(Find<QSpinBox>("SpinCompressRate")->value(), 7);
    EXPECT_EQ(Title("G1"), "Items To ZIP: 0");
    EXPECT_EQ(Title("G2"), "ZIP Archives: 0");
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: 0");
    EXPECT_EQ(form->windowTitle(), "Zamblok");
    EXPECT_EQ(form->size(), QSize(882, 643));
    form->close();
    // The window's layout follows, as Qt states it.
    const std::string settings = ReadFile(dir / "settings.ini");
    EXPECT_EQ(settings.substr(0, settings.find("[Window]\nGeometry=")),
              "[Zip Options]\nAddPassword=0\nEncryption=0\nAddComment=0\nZIP Method=2\nIsAutoName=1\nPerItem=1\n"
              "Manual Filename=Filename\nSuff=2\nInCludeSubFolder=1\nStorePath=1\nIncludeSysAndHide=1\nRate=7\n"
              "ZipPartNames=0\n\n"
              "[UnZip Options]\nAuto Display Details=1\nCreate SubFolder=0\nOverwite=2\nNames Code Page=CP437\n"
              "Go On After Failure=0\n\n");

    // Values out of range, and a section of the wildcard dialogs, which is kept.
    WriteFile(dir / "settings.ini",
              "[Common]\nWildcard Total=1\nWildcard0=*.txt\n[UnZip Options]\nOverwite=7\nCreate SubFolder=5\n");
    Open();
    for (const char* r : {"R0", "R1", "R2", "R3", "R4"})
        EXPECT_FALSE(Find<QRadioButton>(r)->isChecked()) << r;
    EXPECT_EQ(form->UnZipController().ReadUnCompressOptions().overwriteMode, TUZOverwriteMode::Prompt);
    EXPECT_TRUE(Find<QCheckBox>("ChCreateSubFolder")->isChecked());
    form->close();
    const std::string written = ReadFile(dir / "settings.ini");
    EXPECT_NE(written.find("[Common]\nWildcard Total=1\nWildcard0=*.txt\n"), std::string::npos) << written;
    EXPECT_NE(written.find("Overwite=0\n"), std::string::npos) << written;
}

TEST(UnZipPageController, EveryKeyIsReadBackAndTheControlsShowIt)
{
    TempDir dir;
    WriteFile(dir / "settings.ini",
              "[UnZip Options]\nAuto Display Details=0\nCreate SubFolder=1\nOverwite=4\nNames Code Page=CP866\n"
              "Go On After Failure=1\n");
    UnZipPageController controller;
    controller.LoadSettings(TIniFile(dir / "settings.ini"));
    EXPECT_FALSE(controller.options.autoDisplay);
    EXPECT_TRUE(controller.options.subfolderPerArchive);
    EXPECT_EQ(controller.ReadUnCompressOptions().overwriteMode, TUZOverwriteMode::ifOlder);
    EXPECT_EQ(controller.options.namesCodePage, "CP866");
    EXPECT_TRUE(controller.options.goOnAfterFailure);
    TIniFile out(dir / "out.ini");
    controller.SaveSettings(out);
    ASSERT_TRUE(out.UpdateFile());
    EXPECT_EQ(ReadFile(dir / "out.ini"), ReadFile(dir / "settings.ini") + "\n");

    // The page shows what the controller holds, and hands back what the user sets.
    UnZipPage page(controller, nullptr);
    EXPECT_FALSE(page.findChild<QCheckBox*>("ChAotoDisplay")->isChecked());
    EXPECT_TRUE(page.findChild<QRadioButton*>("R4")->isChecked());
    EXPECT_TRUE(page.findChild<QCheckBox*>("ChGoOn")->isChecked());
    page.findChild<QRadioButton*>("R1")->click();
    page.findChild<QCheckBox*>("ChUseOrigPath")->click();
    page.findChild<QCheckBox*>("ChGoOn")->click();
    EXPECT_FALSE(controller.options.goOnAfterFailure);
    page.findChild<QLineEdit*>("EditPWD")->setText(" secret ");
    const ParUnCompress options = controller.ReadUnCompressOptions();
    EXPECT_EQ(options.overwriteMode, TUZOverwriteMode::Always);
    EXPECT_FALSE(options.useStoredPaths);
    EXPECT_EQ(options.password, "secret");
}

TEST_F(UnZipWindow, ArchivesAreAddedOnceRemovedAndListed)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b.txt", "bb");
    WriteFile(dir / "src/sub/c.txt", "ccc");
    const std::string one = Zip("one.zip", "a.txt b.txt");
    const std::string two = Zip("two.zip", "sub/c.txt");
    const std::string three = Zip("three.zip", "a.txt");
    const std::string threeUpper = Zip("Three.zip", "b.txt");
    Open();

    // The same name adds nothing; names differing in case are two archives.
    Add({one, two, one});
    EXPECT_EQ(Archives(), (std::vector<std::string>{one, two}));
    EXPECT_EQ(Title("G2"), "ZIP Archives: 2");
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: 3");
    EXPECT_EQ(Details()[2].fileName, "c.txt");
    EXPECT_EQ(Details()[2].path, "sub/");

    // Automatic display off: the list is hidden until "Display".
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    Add({three, threeUpper});
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: Hidden");
    EXPECT_EQ(Rows(), 0);
    Run("btnDisplayDetails");
    EXPECT_EQ(Rows(), 5);
    EXPECT_EQ(Details()[4].archive, threeUpper);

    // Select all and none; Ctrl+A in the list selects all too.
    auto* view = Find<QAbstractItemView>("ListBoxFileDetail");
    Click("btnSelectall");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 5);
    Click("btnUnselectAll");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 0);
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 5);

    // Removing the last selects the first; Delete removes too.
    auto* list = Find<QListWidget>("ListBoxZipList");
    list->setCurrentRow(3);
    Click("btnRemoveUnZip");
    list->setCurrentRow(2);
    Click("btnRemoveUnZip");
    EXPECT_EQ(Archives(), (std::vector<std::string>{one, two}));
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: Hidden");
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(Archives(), (std::vector<std::string>{two}));
    list->clearSelection();
    Click("btnRemoveUnZip");
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a item by clicking"});
    Click("btnRemoveAllUnZip");
    EXPECT_EQ(Title("G2"), "ZIP Archives: 0");

    // Archives dropped from a file manager are added.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(Q(three))});
    QWidget* target = Find<QListWidget>("ListBoxZipList")->viewport();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    EXPECT_EQ(Archives(), std::vector<std::string>{three});
    Click("btnRemoveAllUnZip");

    // A file that is no archive gives no rows; one that cannot be read is
    // reported with its reason, and the others are listed.
    WriteFile(dir / "text.zip", "no archive here");
    Find<QCheckBox>("ChAotoDisplay")->setChecked(true);
    Add({dir / "text.zip", one});
    EXPECT_EQ(Rows(), 2);
    fs::remove(dir / "text.zip");
    fs::create_directory(dir / "text.zip");
    messages.clear();
    Run("btnDisplayDetails");
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Rows(), 2);
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Listed 2 entries; 1 of 2 archives could not be read.");
    EXPECT_EQ(Find<QListWidget>("ListUnZipReport")->item(0)->text(), "text.zip: Cannot open file " + Q(dir / "text.zip"));
}

TEST_F(UnZipWindow, SelectedEntriesAreExtractedAndDeletedPerArchive)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b.txt", "bb");
    WriteFile(dir / "src/sub/c.txt", "ccc");
    const std::string one = Zip("one.zip", "a.txt b.txt");
    const std::string two = Zip("two.zip", "a.txt sub/c.txt");
    Open();
    SetExtractFolder(dir / "out");
    Add({one, two});
    ASSERT_EQ(Rows(), 4);

    // Rows of two archives, the second's first: groups in order of first appearance.
    const ParArrayOfToUnZip groups = form->UnZipController().CollectSelected({3, 0});
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].archive, two);
    EXPECT_EQ(groups[0].entries, std::vector<std::string>{"sub/c.txt"});
    EXPECT_EQ(groups[1].entries, std::vector<std::string>{"a.txt"});
    SelectRows({0, 3});
    Run("btnExtractSelected");
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");
    EXPECT_EQ(ReadFile(dir / "out/sub/c.txt"), "ccc");
    EXPECT_FALSE(fs::exists(dir / "out/b.txt"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted 2 entries, skipped 0, failed 0.");
    EXPECT_EQ(Find<QProgressBar>("ProgressUnZip")->value(), 1000);

    // Extracting all again: existing files are kept ("Never") and listed in the report.
    Run("btnExtractAll");
    EXPECT_EQ(Find<QListWidget>("ListUnZipReport")->count(), 3);
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted 1 entry, skipped 3, failed 0.");

    // Prompt: the question names the file's folder and its archive, and
    // "Yes to All" is asked once for the run.
    Find<QRadioButton>("R0")->setChecked(true);
    std::vector<QString> asked;
    form->UnZipController().AskOverwrite = [&](const QString& text) {
        asked.push_back(text);
        return int(QMessageBox::YesToAll);
    };
    WriteFile(dir / "out/a.txt", "old");
    Run("btnExtractAll");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].startsWith("Replace existing file a.txt?\n\nIn: " + Q(dir / "out") + "\nExisting file: 3 bytes, "))
        << asked[0].toStdString();
    EXPECT_TRUE(asked[0].contains("\nFrom the archive one.zip: 1 bytes, ")) << asked[0].toStdString();
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");

    // Deleting: asked first, with progress and the busy state; the list is
    // rebuilt from all archives even with automatic display off.
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    SelectRows({1, 2});
    answer = platform::idNo;
    Run("btnDeleteSelectedFiles");
    EXPECT_EQ(Rows(), 4);
    answer = platform::idYes;
    messages.clear();
    Click("btnDeleteSelectedFiles");
    EXPECT_FALSE(Find<QAbstractButton>("btnExtractAll")->isEnabled());
    WaitIdle();
    EXPECT_EQ(messages, std::vector<std::string>{"Do you want to delete the selected 2 compressed files?"});
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(Details()[0].fileName, "a.txt");
    EXPECT_EQ(Details()[1].archive, two);
    EXPECT_EQ(Details()[1].fileName, "c.txt");
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Deleted 2 entries from 2 archives.");
    EXPECT_TRUE(Find<QAbstractButton>("btnExtractAll")->isEnabled());

    // Names that no longer match (the archive was rewritten meanwhile):
    // nothing deleted or extracted, and said so.
    SelectRows({0, 1});
    const std::string kept = ReadFile(one);
    ASSERT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -q -d '" + one + "' a.txt && zip -q '" + one +
                                   "' b.txt && zip -q -d '" + two + "' sub/c.txt && zip -q '" + two + "' b.txt"),
              0);
    Run("btnExtractSelected");
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted nothing: none of the selected entries was found.");
    messages.clear();
    Run("btnDeleteSelectedFiles");
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Deleted nothing: none of the selected entries was found.");
    ASSERT_EQ(Rows(), 2);
    WriteFile(one, kept);
    Run("btnDisplayDetails");

    // A deletion stops at an archive that is gone, with its message, and
    // lists what is on disk now.
    fs::remove(one);
    SelectRows({0, 1});
    messages.clear();
    Run("btnDeleteSelectedFiles");
    EXPECT_EQ(messages.back(), "Cannot open file " + one);
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(Find<QListWidget>("ListUnZipReport")->item(0)->text(), "one.zip: Cannot open file " + Q(one));
}

// The first bad archive ends Extract All, with its message in a box; told
// to go on, the run over ten archives of which three are bad extracts the
// seven good ones and names the three with reasons.
TEST_F(UnZipWindow, ExtractAllStopsAtABadArchiveOrGoesOnPastIt)
{
    std::vector<std::string> archives;
    for (int k = 0; k < 7; ++k) {
        WriteFile(dir / ("src/f" + std::to_string(k) + ".txt"), std::string(size_t(100 * k + 1), char('a' + k)));
        archives.push_back(Zip("good" + std::to_string(k) + ".zip", "f" + std::to_string(k) + ".txt"));
    }
    WriteFile(dir / "text.zip", "no archive here");
    const std::string whole = ReadFile(archives[0]);
    WriteFile(dir / "cut.zip", whole.substr(0, whole.size() / 2));
    archives.insert(archives.begin() + 2, dir / "missing.zip");
    archives.insert(archives.begin() + 5, dir / "text.zip");
    archives.push_back(dir / "cut.zip");
    Open();
    SetExtractFolder(dir / "out");
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    Add(archives);
    Run("btnExtractAll");
    EXPECT_EQ(messages, std::vector<std::string>{"Cannot open file " + dir / "missing.zip"});
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(),
              "Extracted 2 entries, skipped 0, failed 0. Stopped: Cannot open file " + Q(dir / "missing.zip"));
    EXPECT_TRUE(fs::exists(dir / "out/f1.txt"));
    EXPECT_FALSE(fs::exists(dir / "out/f2.txt"));

    messages.clear();
    fs::remove_all(dir / "out");
    Click("ChGoOn");
    Run("btnExtractAll");
    for (int k = 0; k < 7; ++k) {
        const std::string name = "f" + std::to_string(k) + ".txt";
        EXPECT_EQ(ReadFile(dir / ("out/" + name)), ReadFile(dir / ("src/" + name)));
    }
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(),
              "Extracted 7 entries, skipped 0, failed 0. 3 of 10 archives failed.");
    auto* report = Find<QListWidget>("ListUnZipReport");
    ASSERT_EQ(report->count(), 3);
    EXPECT_EQ(report->item(0)->text(), "missing.zip: Cannot open file " + Q(dir / "missing.zip"));
    EXPECT_EQ(report->item(1)->text(), "text.zip: Incomplete Zip File");
    EXPECT_TRUE(report->item(2)->text().startsWith("cut.zip: ")) << report->item(2)->text().toStdString();
    EXPECT_TRUE(messages.empty());
}

// An archive whose directory is damaged is listed, extracted, tested and
// deleted from its local headers, and the report says so each time.
TEST_F(UnZipWindow, ADamagedDirectoryIsReadFromTheLocalHeaders)
{
    WriteFile(dir / "src/a.txt", "a");
    const std::string one = Zip("one.zip", "a.txt");
    const std::string damaged = dir / "damaged.zip";
    WriteFile(damaged, ReadFile(testing_support::CorpusDir() + "/bad/central-dir-zeroed.zip"));
    const QString note = "damaged.zip: its directory was damaged; the entries were read from their local headers";
    Open();
    SetExtractFolder(dir / "out");
    Add({one, damaged});
    auto* report = Find<QListWidget>("ListUnZipReport");
    EXPECT_EQ(Rows(), 4);
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Listed 4 entries of 2 archives.");
    ASSERT_EQ(report->count(), 1);
    EXPECT_EQ(report->item(0)->text(), note);
    for (const char* run : {"btnExtractAll", "btnTest"}) {
        Run(run);
        EXPECT_TRUE(report->findItems(note, Qt::MatchExactly).size() == 1) << run;
    }
    EXPECT_EQ(ReadFile(dir / "out/b.bin").size(), 1000u);
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Tested 4 entries: 4 OK, 0 failed.");
    SelectRows({1});
    Run("btnDeleteSelectedFiles");
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Deleted 1 entry from 1 archive.");
    EXPECT_EQ(report->item(0)->text(), note);
    EXPECT_EQ(Rows(), 3);
    EXPECT_TRUE(messages.size() == 1) << messages.back();  // the question alone
}

// A listing that ends while a run works leaves the run's status and report;
// a second Cancel coming as a deletion ends leaves the listing that follows it.
TEST_F(UnZipWindow, AListingLeavesTheRunAndItsCancelAlone)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b.txt", "b");
    const std::string one = Zip("one.zip", "a.txt b.txt");
    fs::create_directory(dir / "folder.zip");  // cannot be read: a report line
    WriteFile(dir / "out/a.txt", "old");
    Open();
    SetExtractFolder(dir / "out");
    Find<QRadioButton>("R0")->setChecked(true);
    Add({one, dir / "folder.zip"});
    QString statusAfterListing;
    form->UnZipController().AskOverwrite = [&](const QString&) {
        Click("btnDisplayDetails");
        EXPECT_TRUE(QTest::qWaitFor([&] { return !form->UnZipController().Listing(); }, 60000));
        statusAfterListing = Find<QLabel>("LabelUnZipStatus")->text();
        return int(QMessageBox::Yes);
    };
    Run("btnExtractAll");
    EXPECT_TRUE(statusAfterListing.contains("one.zip")) << statusAfterListing.toStdString();
    auto* report = Find<QListWidget>("ListUnZipReport");
    ASSERT_EQ(report->count(), 1);
    EXPECT_EQ(report->item(0)->text(), "folder.zip: Cannot open file " + Q(dir / "folder.zip"));

    SelectRows({0});
    QObject::connect(
        &form->UnZipController(), &UnZipPageController::RunEnded, form.get(), [&] { Click("btnUnZipCancel"); },
        Qt::SingleShotConnection);
    Run("btnDeleteSelectedFiles");
    ASSERT_EQ(Rows(), 1);
    EXPECT_EQ(Details()[0].fileName, "b.txt");
}

// The list as a user works it: headers sort (sizes and dates as numbers),
// the filter narrows it and Select All, the count and extraction follow what
// is shown; a row tells its archive's full path and its exact size.
TEST_F(UnZipWindow, TheEntryListSortsFiltersAndTellsEachRow)
{
    WriteFile(dir / "src/b.txt", std::string(12000, 'b'));
    WriteFile(dir / "src/sub/a.txt", std::string(9000, 'a'));
    WriteFile(dir / "src/sub/z.txt", "z");
    const std::string one = Zip("one.zip", "b.txt sub sub/a.txt sub/z.txt");
    Open();
    SetExtractFolder(dir / "out");
    Add({one});
    auto* view = Find<QTableView>("ListBoxFileDetail");
    const auto column = [&](int c) {
        std::vector<std::string> shown;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            shown.push_back(view->model()->index(r, c).data().toString().toStdString());
        return shown;
    };
    EXPECT_EQ(column(1), (std::vector<std::string>{"b.txt", "sub", "a.txt", "z.txt"}));
    EXPECT_EQ(column(0)[0], one);
    EXPECT_EQ(view->model()->index(0, 0).data(Qt::ToolTipRole).toString(), Q(one));
    EXPECT_EQ(view->model()->index(0, 3).data(Qt::ToolTipRole).toString(), "12,000 bytes");
    for (int r = 0; r < 4; ++r)
        EXPECT_FALSE(view->model()->index(r, 1).data(Qt::DecorationRole).value<QIcon>().isNull());

    QHeaderView* header = view->horizontalHeader();
    const auto clickHeader = [&](int c) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(c) + 5, 5));
    };
    clickHeader(3);
    EXPECT_EQ(column(1), (std::vector<std::string>{"sub", "z.txt", "a.txt", "b.txt"}));
    clickHeader(3);
    EXPECT_EQ(column(1), (std::vector<std::string>{"b.txt", "a.txt", "z.txt", "sub"}));

    // Home and End go to the first and the last row; Tab and Shift+Tab leave the list.
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Find<QTabWidget>("PageControl1")->setCurrentIndex(1);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(view->currentIndex().row(), 3);
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(view->currentIndex().row(), 0);
    QTest::keyClick(view, Qt::Key_Tab);
    EXPECT_TRUE(Find<QWidget>("btnSelectall")->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_TRUE(view->hasFocus());
    QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(view->hasFocus());

    QTest::keyClicks(Find<QLineEdit>("EditFilter"), "SUB/A");
    EXPECT_EQ(column(1), std::vector<std::string>{"a.txt"});
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: 4");
    EXPECT_EQ(Find<QLabel>("LabelShown")->text(), "1 shown");
    Click("btnSelectall");
    Run("btnExtractSelected");
    EXPECT_EQ(ReadFile(dir / "out/sub/a.txt"), std::string(9000, 'a'));
    EXPECT_FALSE(fs::exists(dir / "out/b.txt"));
    EXPECT_FALSE(fs::exists(dir / "out/sub/z.txt"));

    // Names sort as the desktop collates them: case aside, numbers by value.
    Find<QLineEdit>("EditFilter")->clear();
    EXPECT_EQ(Find<QLabel>("LabelShown")->text(), "");
    testing_support::WriteFile(dir / "names.zip",
                               testing_support::AssembleZip({{"M.txt", "m", 0, 0x800}, {"file10.txt", "x", 0, 0x800},
                                                             {"Café.txt", "c", 0, 0x800}, {"a.txt", "a", 0, 0x800},
                                                             {"file2.txt", "x", 0, 0x800}}));
    Click("btnRemoveAllUnZip");
    Add({dir / "names.zip"});
    clickHeader(1);
    EXPECT_EQ(column(1), (std::vector<std::string>{"a.txt", "Café.txt", "file2.txt", "file10.txt", "M.txt"}));
}

// Double-click opens an entry: its bytes go to a private folder, handed to
// the desktop, and gone when the window is; entries dragged out are
// extracted there too, a folder with what it holds.
TEST_F(UnZipWindow, EntriesOpenAndDragOutFromAPrivateFolder)
{
    WriteFile(dir / "src/b.txt", "bee");
    WriteFile(dir / "src/sub/a.txt", "ay");
    const std::string one = Zip("one.zip", "-r b.txt sub");
    Open();
    Add({one});
    std::vector<QString> opened;
    form->UnZipController().OpenFile = [&](const QString& path) { opened.push_back(path); };
    auto* view = Find<QTableView>("ListBoxFileDetail");
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(0, 1)).center());
    WaitIdle();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(ReadFile(opened[0].toStdString()), "bee");
    const fs::path root = fs::path(opened[0].toStdString()).parent_path().parent_path().parent_path();
    EXPECT_EQ(fs::status(root).permissions() & fs::perms::all, fs::perms::owner_all);

    form->UnZipController().OpenEntry(1);  // the folder "sub/"
    WaitIdle();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(opened[1].endsWith("/one/sub")) << opened[1].toStdString();
    const QStringList dragged = form->UnZipController().ExtractPrivately({1}, {});
    ASSERT_EQ(dragged.size(), 1);
    ui::PendingFiles mime(dragged, [&] { return !form->Running(); });
    const QList<QUrl> urls = mime.urls();  // waits for the files
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(urls[0].fileName(), "sub");
    EXPECT_EQ(ReadFile(urls[0].toLocalFile().toStdString() + "/a.txt"), "ay");

    form->close();
    form.reset();
    EXPECT_FALSE(fs::exists(root));
}

// A stored name that leads out of the folder is extracted inside it, and
// that file is what is opened: never the file the name leads to.
TEST_F(UnZipWindow, OpenHandsOnTheFileTheExtractionWrote)
{
    const std::string name = "../../../../../../../../../../../../etc/hostname";
    WriteFile(dir / "dotdot.zip", testing_support::AssembleZip({{name, "the archive's own"}}));
    Open();
    Add({dir / "dotdot.zip"});
    std::vector<QString> opened;
    form->UnZipController().OpenFile = [&](const QString& path) { opened.push_back(path); };
    form->UnZipController().OpenEntry(0);
    WaitIdle();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(ReadFile(opened[0].toStdString()), "the archive's own");
    EXPECT_TRUE(opened[0].endsWith("/dotdot/etc/hostname")) << opened[0].toStdString();
    // A drag carries addresses before the files are written: none for it.
    EXPECT_EQ(form->UnZipController().ExtractPrivately({0}, {}), QStringList());
    WaitIdle();
}

// A wrong password asks for another one; the question may also skip the
// entry, or every encrypted entry of the archive without asking again.
TEST_F(UnZipWindow, AWrongPasswordAsksForAnotherOneOrSkips)
{
    WriteFile(dir / "src/secret.txt", "secret");
    WriteFile(dir / "src/other.txt", "other");
    const std::string locked = Zip("locked.zip", "secret.txt other.txt", "-P right");
    // Skipping an archive's encrypted entries skips this archive's only:
    // the question comes again for the second archive.
    WriteFile(dir / "src/third.txt", "third");
    const std::string second = Zip("locked2.zip", "third.txt", "-P right");
    using Kind = PasswordAnswer::Kind;
    const struct {
        Kind answer;
        size_t asked;
        bool extracted;
    } cases[] = {{Kind::Password, 2, true}, {Kind::SkipEntry, 3, false}, {Kind::SkipArchive, 2, false}};
    Open();
    Find<QLineEdit>("EditPWD")->setText("  wrong  ");
    Add({locked, second});
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.answer));
        const std::string out = dir / ("out" + std::to_string(int(c.answer)));
        SetExtractFolder(out);
        size_t asked = 0;
        form->UnZipController().AskPassword = [&](const QString&) {
            ++asked;
            return PasswordAnswer{c.answer, "right"};  // not asked again: the new password fits other.txt too
        };
        Run("btnExtractAll");
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(fs::exists(out + "/secret.txt"), c.extracted);
        EXPECT_EQ(fs::exists(out + "/other.txt"), c.extracted);
        EXPECT_EQ(fs::exists(out + "/third.txt"), c.extracted);
    }
    EXPECT_EQ(ReadFile(dir / "out0/other.txt"), "other");

    // With nothing typed the question asks for the password. Entries the
    // user skips are told as such, and a test counts them apart from failures.
    Find<QLineEdit>("EditPWD")->clear();
    SetExtractFolder(dir / "out9");
    std::vector<QString> texts;
    PasswordAnswer::Kind skip = Kind::SkipEntry;
    form->UnZipController().AskPassword = [&](const QString& text) {
        texts.push_back(text);
        return PasswordAnswer{skip, {}};
    };
    auto* report = Find<QListWidget>("ListUnZipReport");
    const auto lines = [&] {
        QStringList all;
        for (int k = 0; k < report->count(); ++k)
            all << report->item(k)->text();
        return all;
    };
    Run("btnExtractAll");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "Enter the password for secret.txt of locked.zip:");
    EXPECT_EQ(lines(), (QStringList{"locked.zip: secret.txt: skipped by you", "locked.zip: other.txt: skipped by you",
                                    "locked2.zip: third.txt: skipped by you"}));
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted 0 entries, skipped 3, failed 0.");
    skip = Kind::SkipArchive;
    SelectRows({0});
    Run("btnTest");
    EXPECT_EQ(texts.size(), 4u);
    EXPECT_EQ(lines().last(), "locked.zip: 0 entries OK, 2 skipped by you");
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Tested 0 entries: 0 OK, 0 failed, 2 skipped by you.");
}

// Test decodes every entry and writes nothing: a line per entry and per
// archive, a bad CRC named as such, the archives of the selected rows only.
TEST_F(UnZipWindow, TestChecksEveryEntryAndWritesNothing)
{
    WriteFile(dir / "src/a.txt", "alpha");
    const std::string good = Zip("good.zip", "a.txt");
    testing_support::WriteFile(dir / "bad.zip", testing_support::AssembleZip({{"x.txt", "data", 0, 0, 0x12345678u}}));
    Open();
    SetExtractFolder(dir / "out");
    Add({good, dir / "bad.zip"});
    Run("btnTest");
    EXPECT_FALSE(fs::exists(dir / "out"));
    QStringList lines;
    auto* report = Find<QListWidget>("ListUnZipReport");
    for (int k = 0; k < report->count(); ++k)
        lines << report->item(k)->text();
    EXPECT_EQ(lines, (QStringList{"good.zip: a.txt: OK", "good.zip: 1 entry OK",
                                  "bad.zip: x.txt: bad CRC adf3f363 (stored 12345678)",
                                  "bad.zip: 1 of 1 entries failed"}));
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Tested 2 entries: 1 OK, 1 failed.");
    SelectRows({0});
    Run("btnTest");
    EXPECT_EQ(report->count(), 2);
}

// An archive that other tools read as another is named in the report of
// an extraction and of a test.
TEST_F(UnZipWindow, AnArchiveThatOtherToolsReadAsAnotherIsNamed)
{
    WriteFile(dir / "two.zip",
              testing_support::TwoDirectoriesZip({{"benign.txt", "hello"}, {"evil.sh", "rm"}}, {0}, {1}));
    Open();
    SetExtractFolder(dir / "out");
    Add({dir / "two.zip"});
    for (const char* button : {"btnExtractAll", "btnTest"}) {
        SCOPED_TRACE(button);
        Run(button);
        QStringList lines;
        auto* report = Find<QListWidget>("ListUnZipReport");
        for (int k = 0; k < report->count(); ++k)
            lines << report->item(k)->text();
        EXPECT_TRUE(lines.contains("two.zip: this archive reads differently in other tools (two end records)"))
            << lines.join('\n').toStdString();
    }
    EXPECT_EQ(ReadFile(dir / "out/benign.txt"), "hello");
}

// Names without the UTF-8 flag are read in the chosen code page by the
// listing and the extraction alike, and the choice is kept.
TEST_F(UnZipWindow, NamesAreReadInTheChosenCodePage)
{
    const std::string cyrillic = "\x8f\xe0\xa8\xa2\xa5\xe2.txt";  // "Привет.txt" in CP866
    testing_support::WriteFile(dir / "dos.zip", testing_support::AssembleZip({{cyrillic, "hi"}}));
    Open();
    SetExtractFolder(dir / "out");
    Add({dir / "dos.zip"});
    EXPECT_EQ(Details()[0].fileName, platform::Cp437ToUtf8(cyrillic));
    Find<QComboBox>("CodePage")->setCurrentText("CP866");
    WaitIdle();
    EXPECT_EQ(Details()[0].fileName, "Привет.txt");
    Run("btnExtractAll");
    EXPECT_EQ(ReadFile(dir / "out/Привет.txt"), "hi");
    form->close();
    EXPECT_EQ(TIniFile((dir / "settings.ini").c_str()).ReadString("UnZip Options", "Names Code Page", ""), "CP866");
}

// The overwrite question, as its box shows it, names the file and shows
// both; Rename writes the entry under a free name and keeps the existing
// file; Open destination opens the folder.
TEST_F(UnZipWindow, OverwriteRenameKeepsBothFiles)
{
    WriteFile(dir / "src/a.txt", "new");
    const std::string one = Zip("one.zip", "a.txt");
    WriteFile(dir / "out/a.txt", "old");
    WriteFile(dir / "out/a (1).txt", "older");
    fs::create_symlink("nowhere.txt", dir / "out/a (2).txt");  // taken too, though it leads nowhere
    Open();
    SetExtractFolder(dir / "out");
    Find<QRadioButton>("R0")->setChecked(true);
    Add({one});
    QString caption, asked, details;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != "OverwriteQuestion")
            return;
        caption = box->windowTitle();
        asked = box->text();
        details = box->informativeText();
        for (QAbstractButton* button : box->buttons())
            if (button->text() == "Re&name")
                button->click();
    });
    answer.start(10);
    EXPECT_FALSE(Find<QAbstractButton>("btnOpenDestination")->isEnabled());
    Run("btnExtractAll");
    EXPECT_EQ(caption, "File Exists Alert");
    EXPECT_EQ(asked, "Replace existing file a.txt?");
    EXPECT_TRUE(details.contains("Existing file: 3 bytes, ")) << details.toStdString();
    EXPECT_TRUE(details.contains("From the archive one.zip: 3 bytes, ")) << details.toStdString();
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "old");
    EXPECT_EQ(ReadFile(dir / "out/a (1).txt"), "older");
    EXPECT_EQ(ReadFile(dir / "out/a (3).txt"), "new");
    EXPECT_FALSE(fs::exists(dir / "out/nowhere.txt"));

    QString opened;
    form->UnZipController().OpenFile = [&](const QString& path) { opened = path; };
    Click("btnOpenDestination");
    EXPECT_EQ(opened, Q(dir / "out/"));
}

// A run that ends while the user works in another window is told to the
// desktop with its summary; one the user watches is not.
TEST_F(UnZipWindow, ARunEndingUnseenIsToldToTheDesktop)
{
    WriteFile(dir / "src/a.txt", "a");
    const std::string one = Zip("one.zip", "a.txt");
    Open();
    SetExtractFolder(dir / "out");
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    Add({one});
    std::vector<QString> told;
    form->Notify = [&](const QString& text) { told.push_back(text); };
    form->notifyAfterMs = 0;
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    Run("btnExtractAll");
    EXPECT_TRUE(told.empty());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Run("btnExtractAll");
    Run("btnDisplayDetails");
    EXPECT_EQ(told, (std::vector<QString>{"Extracted 0 entries, skipped 1, failed 0.", "Listed 1 entry of 1 archive."}));
}

// Every button and option of the page has an access key of its own.
TEST_F(UnZipWindow, AccessKeysAreUniqueOnThePage)
{
    Open();
    QWidget* page = form->UnZipView();
    std::map<QChar, QString> keys;
    const auto take = [&](const QString& text) {
        const qsizetype at = text.indexOf('&');
        ASSERT_GE(at, 0) << text.toStdString() << " has no access key";
        const QChar key = text[at + 1].toLower();
        EXPECT_TRUE(keys.emplace(key, text).second) << text.toStdString() << " and " << keys[key].toStdString();
    };
    // Every letter is taken: "Go on with the next archive when one fails"
    // shares Alt+W with the code-page list, Alt+W moving between the two.
    for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
        if (!qobject_cast<QRadioButton*>(b) && !b->text().isEmpty() && b->objectName() != "ChGoOn")
            take(b->text());
    EXPECT_TRUE(Find<QCheckBox>("ChGoOn")->text().contains("&w"));
    for (QLabel* label : page->findChildren<QLabel*>())
        if (label->buddy())
            take(label->text());
}

TEST_F(UnZipWindow, ChecksRefuseRunsThatCannotStart)
{
    WriteFile(dir / "src/a.txt", "a");
    const std::string one = Zip("one.zip", "a.txt");
    Open();
    Click("btnExtractAll");
    Click("btnDeleteSelectedFiles");
    Add({one});
    Click("btnExtractSelected");
    SetExtractFolder("   ");
    Click("btnExtractAll");
    // A file where the folder, or a folder above it, should be.
    SetExtractFolder(dir / "src/a.txt");
    Click("btnExtractAll");
    SetExtractFolder(dir / "src/a.txt/out");
    SelectRows({0});
    Click("btnExtractSelected");
    EXPECT_FALSE(form->Running());
    const std::string file = dir / "src/a.txt";
    EXPECT_EQ(messages, (std::vector<std::string>{"No item for UnZIP, please select ZIP archives first!",
                                                  "Please select compressed files first!",
                                                  "No selected compressed files in Zip archives for UnZIP!",
                                                  "Please enter the folder to extract to.",
                                                  "Cannot extract to " + file + ": " + file + " is a file, not a folder.",
                                                  "Cannot extract to " + file + "/out: " + file +
                                                      " is a file, not a folder."}));
}

TEST_F(UnZipWindow, HelpShowsThePageOfItsWindowAndTheMenuOpensTheAboutBox)
{
    Open();
    for (const auto& [button, context, heading] :
         {std::tuple{"Sphelp", 61, "The \"Multiple ZIP\" page"}, {"SpeedButton21", 62, "The \"Multiple UnZIP\" page"}}) {
        Click(button);
        auto* browser = form->findChild<QTextBrowser*>("HelpBrowser");
        ASSERT_NE(browser, nullptr);
        EXPECT_TRUE(browser->source().toLocalFile().endsWith(QString("/%1.html").arg(context)));
        EXPECT_TRUE(browser->toPlainText().startsWith(heading)) << browser->toPlainText().left(80).toStdString();
    }
    for (const int context : {63, 302, 801, 30})
        EXPECT_TRUE(QFileInfo::exists(QString(ZAMBLOK_HELP_DIR "/%1.html").arg(context))) << context;

    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        title = box->windowTitle() + " / " + box->findChild<QLabel*>("AboutTitle")->text();
        // The web page is a real place: the contents of the help pages.
        const QUrl website(box->findChild<QLabel*>("AboutWebsite")->toolTip());
        EXPECT_EQ(website, QUrl::fromLocalFile(ZAMBLOK_HELP_DIR "/index.html"));
        EXPECT_TRUE(QFileInfo::exists(website.toLocalFile()));
        QTest::mouseClick(box->findChild<QAbstractButton*>("AboutClose"), Qt::LeftButton);
    });
    form->findChild<QAction*>("Pm_About")->trigger();
    EXPECT_EQ(title, "About Zamblok / Zamblok V1.00  ( Build 4 )");
}

// While an archive's directory is read, the status line names the archive
// and its place in the run (a file that is no archive: its directory is
// read, and nothing follows).
TEST_F(UnZipWindow, TheStatusLineNamesTheArchiveWhoseDirectoryIsRead)
{
    WriteFile(dir / "text.zip", "no archive");
    Open();
    SetExtractFolder(dir / "out");
    form->UnZipController().options.autoDisplay = false;
    form->AddArchives({Q(dir / "text.zip")});
    QStringList seen;
    QObject::connect(&form->UnZipController(), &UnZipPageController::Progress,
                     [&] { seen << form->UnZipController().Status(); });
    Run("btnExtractAll");
    EXPECT_TRUE(seen.contains("Archive 1 of 1: text.zip")) << seen.join(" | ").toStdString();
}

// Every control of both pages is named for assistive technology by its
// label, not by the group box around it.
TEST_F(UnZipWindow, EveryControlIsNamedByItsLabel)
{
    Open();
    const auto name = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    const auto folderEdit = [&](const char* edit, bool browse) -> QWidget* {
        auto* folder = Find<ui::FolderEdit>(edit);
        return browse ? static_cast<QWidget*>(folder->browseButton()) : folder->lineEdit();
    };
    const std::pair<QWidget*, QString> named[] = {
        {folderEdit("TargetDirectory", false), "Destination Directory"},
        {folderEdit("TargetDirectory", true), "Browse for Destination Directory"},
        {folderEdit("ExtractFolder", false), "Extract to"},
        {folderEdit("ExtractFolder", true), "Browse for Extract to"},
        {Find<QWidget>("EditPWD"), "Input Password ( If has )"},
        {Find<QWidget>("EditPassword"), "Password"},
        {Find<QWidget>("EditConfirmPassword"), "Confirm"},
        {Find<QWidget>("SpinCompressRate"), "Compression ratio"},
        {Find<QWidget>("RxSpintAdd0"), "number width"},
        {Find<QWidget>("RxSpinPerItem"), "Items "},
        {Find<QWidget>("spinEditSplitSize"), "Other Size"},
    };
    for (const auto& [control, expected] : named)
        EXPECT_EQ(name(control).toStdString(), expected.toStdString()) << control->objectName().toStdString();
    // A list to choose from is named by its value here; its label comes as its relation.
    const auto labels = [](QWidget* w) {
        QStringList texts;
        for (const auto& [label, relation] : QAccessible::queryAccessibleInterface(w)->relations(QAccessible::Label))
            texts << label->text(QAccessible::Name);
        return texts;
    };
    EXPECT_EQ(labels(Find<QWidget>("CodePage")).value(0).toStdString(), "Names in archives from Windows tools:");
    EXPECT_EQ(labels(Find<QWidget>("CbEncryption")).value(0).toStdString(), "Encryption:");

    QStringList groups;
    for (QGroupBox* group : form->findChildren<QGroupBox*>())
        groups << group->title();
    // The controls shown on either page.
    for (QWidget* page : {static_cast<QWidget*>(form->ZipView()), static_cast<QWidget*>(form->UnZipView())})
    for (QWidget* w : page->findChildren<QWidget*>()) {
        const bool input = qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QAbstractButton*>(w) ||
                           (qobject_cast<QAbstractItemView*>(w) && !qobject_cast<QHeaderView*>(w)) ||
                           (qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractSpinBox*>(w->parentWidget()) &&
                            !qobject_cast<QComboBox*>(w->parentWidget()));
        if (!input || !w->isVisibleTo(page) || w->window() != form.get())
            continue;
        const QString n = name(w);
        EXPECT_FALSE(n.isEmpty() || groups.contains(n))
            << w->objectName().toStdString() << " (" << w->metaObject()->className() << ") is named '" << n.toStdString()
            << "'";
    }
}

// At the window's first size the report of each page shows a good number
// of lines, and a long line wraps instead of running out of sight.
TEST_F(UnZipWindow, ReportsTakeTheSpareHeightAndWrapLongLines)
{
    std::string deep;
    for (char c : std::string("abcdef"))
        deep += std::string(30, c) + "/";
    WriteFile(dir / ("src/" + deep + "f.txt"), "f");
    const std::string archive = Zip("deep.zip", deep + "f.txt");
    Open();
    auto* pages = Find<QTabWidget>("PageControl1");
    for (const char* name : {"ListZipReport", "ListUnZipReport"}) {
        SCOPED_TRACE(name);
        pages->setCurrentIndex(name == std::string("ListZipReport") ? 0 : 1);
        auto* report = Find<QListWidget>(name);
        ASSERT_TRUE(QTest::qWaitFor([&] { return report->isVisible(); }));
        const int lines = report->viewport()->height() / report->fontMetrics().height();
        EXPECT_GE(lines, 5) << form->width() << "x" << form->height();
    }
    // The file kept, named with its folders, in one line of the report.
    SetExtractFolder(dir / "out");
    Add({archive});
    Run("btnExtractAll");
    Run("btnExtractAll");
    auto* report = Find<QListWidget>("ListUnZipReport");
    ASSERT_EQ(report->count(), 1);
    QTest::qWait(50);
    EXPECT_EQ(report->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(report->visualItemRect(report->item(0)).height(), 2 * report->fontMetrics().height()) << report->item(0)->text().toStdString();
    EXPECT_LE(report->visualItemRect(report->item(0)).width(), report->viewport()->width());
}
