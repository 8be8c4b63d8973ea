// The main window and its "Multiple UnZIP" page, driven as a user would:
// clicks and keys on controls found by name, questions answered by script,
// over archives that Info-ZIP makes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMimeData>
#include <QTextBrowser>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "tests/app/WindowTest.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {
class UnZipPage : public WindowTest {};
}  // namespace

TEST_F(UnZipPage, SettingsStartAtTheirDefaultsAndAreWrittenAtClose)
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
    EXPECT_EQ(ReadFile(dir / "settings.ini"),
              "[Zip Options]\nAddPassword=0\nEncryption=0\nAddComment=0\nZIP Method=2\nIsAutoName=1\nPerItem=1\n"
              "Manual Filename=Filename\nSuff=2\nInCludeSubFolder=1\nStorePath=1\nIncludeSysAndHide=1\nRate=7\n\n"
              "[UnZip Options]\nAuto Display Details=1\nCreate SubFolder=0\nOverwite=2\n\n");

    // Values out of range, unreadable numbers, and a section of the wildcard dialogs.
    WriteFile(dir / "settings.ini",
              "[Common]\nWildcard Total=1\nWildcard0=*.txt\n[UnZip Options]\nOverwite=7\nCreate SubFolder=5\n"
              "[Zip Options]\nRate=seven\nZIP Method=7\nManual Filename=  Backup  \nEncryption=5\n");
    Open();
    for (const char* r : {"R0", "R1", "R2", "R3", "R4"})
        EXPECT_FALSE(Find<QRadioButton>(r)->isChecked()) << r;
    EXPECT_EQ(form->ReadUnCompressOptions().overwriteMode, TUZOverwriteMode::Prompt);
    EXPECT_TRUE(Find<QCheckBox>("ChCreateSubFolder")->isChecked());
    EXPECT_EQ(Find<QSpinBox>("SpinCompressRate")->value(), 7);
    EXPECT_EQ(Find<QComboBox>("CbEncryption")->currentIndex(), 0);
    for (const char* r : {"RaSingle", "RaBlock", "RaMultipleZIP"})
        EXPECT_FALSE(Find<QRadioButton>(r)->isChecked()) << r;
    form->close();
    const std::string written = ReadFile(dir / "settings.ini");
    EXPECT_NE(written.find("[Common]\nWildcard Total=1\nWildcard0=*.txt\n"), std::string::npos) << written;
    EXPECT_NE(written.find("Overwite=0\n"), std::string::npos) << written;
    EXPECT_NE(written.find("Manual Filename=Backup\n"), std::string::npos) << written;
}

TEST_F(UnZipPage, ArchivesAreAddedOnceRemovedAndListed)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b.txt", "bb");
    WriteFile(dir / "src/sub/c.txt", "ccc");
    const std::string one = Zip("one.zip", "a.txt b.txt");
    const std::string two = Zip("two.zip", "sub/c.txt");
    const std::string three = Zip("three.zip", "a.txt");
    Open();

    Add({one, two, dir / "ONE.zip"});  // the same name in other letters adds nothing
    EXPECT_EQ(form->ZipList, (std::vector<std::string>{one, two}));
    EXPECT_EQ(Title("G2"), "ZIP Archives: 2");
    EXPECT_EQ(Rows(), 3);
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: 3");
    EXPECT_EQ(form->FileDetails[2].fileName, "c.txt");
    EXPECT_EQ(form->FileDetails[2].path, "sub/");

    // Automatic display off: the list is hidden until "Display".
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    Add({three});
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: Hidden");
    EXPECT_EQ(Rows(), 0);
    Click("btnDisplayDetails");
    EXPECT_EQ(Rows(), 4);

    // Select all and none; Ctrl+A in the list selects all too.
    auto* view = Find<QAbstractItemView>("ListBoxFileDetail");
    Click("btnSelectall");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 4);
    Click("btnUnselectAll");
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 0);
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view->selectionModel()->selectedRows().size(), 4);

    // Removing the last of three selects the first; Delete removes too.
    auto* list = Find<QListWidget>("ListBoxZipList");
    list->setCurrentRow(2);
    Click("btnRemoveUnZip");
    EXPECT_EQ(form->ZipList, (std::vector<std::string>{one, two}));
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(Title("G3"), "Compressed Files To UnZIP: Hidden");
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(form->ZipList, (std::vector<std::string>{two}));
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
    EXPECT_EQ(form->ZipList, std::vector<std::string>{three});
    Click("btnRemoveAllUnZip");

    // A file that is no archive gives no rows; one that cannot be read is
    // reported, and the rows stay those of the elements behind them.
    WriteFile(dir / "text.zip", "no archive here");
    Find<QCheckBox>("ChAotoDisplay")->setChecked(true);
    Add({one, dir / "text.zip"});
    EXPECT_EQ(Rows(), 2);
    fs::remove(dir / "text.zip");
    fs::create_directory(dir / "text.zip");
    Click("btnDisplayDetails");
    EXPECT_EQ(messages.back(), "Cannot open file " + dir / "text.zip");
    EXPECT_EQ(size_t(Rows()), form->FileDetails.size());
}

TEST_F(UnZipPage, SelectedEntriesAreExtractedAndDeletedPerArchive)
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
    SelectRows({3, 0});
    const ParArrayOfToUnZip groups = form->CollectSelected();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].archive, one);
    EXPECT_EQ(groups[0].entries, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(groups[1].entries, std::vector<std::string>{"sub/c.txt"});
    Click("btnExtractSelected");
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");
    EXPECT_EQ(ReadFile(dir / "out/sub/c.txt"), "ccc");
    EXPECT_FALSE(fs::exists(dir / "out/b.txt"));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted 2 entries, skipped 0, failed 0.");

    // Extracting all again: existing files are kept ("Never") and listed in the report.
    Click("btnExtractAll");
    EXPECT_EQ(Find<QListWidget>("ListUnZipReport")->count(), 3);
    EXPECT_EQ(Find<QLabel>("LabelUnZipStatus")->text(), "Extracted 1 entry, skipped 3, failed 0.");

    // Prompt: "Yes to All" is asked once for the run.
    Find<QRadioButton>("R0")->setChecked(true);
    int asked = 0;
    form->AskOverwrite = [&](const QString& text) {
        EXPECT_EQ(text, "Replace existing file a.txt?");
        ++asked;
        return int(QMessageBox::YesToAll);
    };
    WriteFile(dir / "out/a.txt", "old");
    Click("btnExtractAll");
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "a");

    // Deleting: asked first; the list is rebuilt from all archives even with automatic display off.
    Find<QCheckBox>("ChAotoDisplay")->setChecked(false);
    SelectRows({1, 2});
    answer = platform::idNo;
    Click("btnDeleteSelectedFiles");
    EXPECT_EQ(Rows(), 4);
    answer = platform::idYes;
    messages.clear();
    Click("btnDeleteSelectedFiles");
    EXPECT_EQ(messages, std::vector<std::string>{"Do you want to delete the selected 2 compressed files?"});
    ASSERT_EQ(Rows(), 2);
    EXPECT_EQ(form->FileDetails[0].fileName, "a.txt");
    EXPECT_EQ(form->FileDetails[1].archive, two);
    EXPECT_EQ(form->FileDetails[1].fileName, "c.txt");
}

TEST_F(UnZipPage, AWrongPasswordAsksForAnotherOne)
{
    WriteFile(dir / "src/secret.txt", "secret");
    WriteFile(dir / "src/other.txt", "other");
    const std::string locked = Zip("locked.zip", "secret.txt other.txt", "-P right");
    Open();
    SetExtractFolder(dir / "out");
    Find<QLineEdit>("EditPWD")->setText("  wrong  ");
    std::vector<std::string> asked;
    form->AskPassword = [&](const QString& text) -> std::optional<QString> {
        asked.push_back(text.toStdString());
        if (asked.size() == 1)
            return QString("right");
        return std::nullopt;  // not asked again: the new password fits other.txt too
    };
    Add({locked});
    Click("btnExtractAll");
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(ReadFile(dir / "out/secret.txt"), "secret");
    EXPECT_EQ(ReadFile(dir / "out/other.txt"), "other");
}

TEST_F(UnZipPage, ChecksRefuseRunsThatCannotStart)
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
    EXPECT_EQ(messages, (std::vector<std::string>{"No item for UnZIP, please select ZIP archives first!",
                                                  "Please select compressed files first!",
                                                  "No selected compressed files in Zip archives for UnZIP!",
                                                  "Please enter the folder to extract to."}));
}

TEST_F(UnZipPage, TheWindowAnswersAndCancelsDuringALongExtraction)
{
    // A first small archive, then one of 48 MB that takes many chunks.
    WriteFile(dir / "src/small.txt", "small");
    {
        std::ofstream big(dir / "src/big.bin", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 48; ++i) {
            for (size_t k = 0; k < block.size(); ++k)
                block[k] = char((k * 2654435761u + unsigned(i)) >> 13);
            big << block;
        }
    }
    const std::string small = Zip("small.zip", "small.txt");
    const std::string big = Zip("big.zip", "big.bin", "-0");
    Open();
    SetExtractFolder(dir / "out");
    Add({small, big});

    // The window keeps answering: a 10 ms timer fires throughout. A listing
    // runs in the middle of the extraction without disturbing it; Cancel is
    // clicked once the big entry is half written, and a new run is refused
    // until the cancelled one has ended.
    int fired = 0;
    bool listed = false;
    QString refused;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++fired;
        const int progress = Find<QProgressBar>("ProgressUnZip")->value();
        if (progress > 600 && !listed) {
            listed = true;
            Click("btnDisplayDetails");
            EXPECT_EQ(Rows(), 2);
        }
        if (progress > 750 && Find<QAbstractButton>("btnUnZipCancel")->isVisible()) {
            Click("btnUnZipCancel");
            Click("btnExtractAll");
            refused = Find<QLabel>("LabelUnZipStatus")->text();
        }
    });
    ticker.start(10);
    QElapsedTimer clock;
    clock.start();
    Click("btnExtractAll");
    const qint64 elapsed = clock.elapsed();
    ticker.stop();
    EXPECT_GE(fired, elapsed / 100) << elapsed << " ms";
    EXPECT_TRUE(listed);
    EXPECT_EQ(refused, "The previous run is still stopping; try again in a moment.");
    EXPECT_EQ(messages, std::vector<std::string>{"User Aborted Operation"});
    EXPECT_EQ(ReadFile(dir / "out/small.txt"), "small");
    EXPECT_FALSE(fs::exists(dir / "out/big.bin"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);
    EXPECT_TRUE(Find<QAbstractButton>("btnExtractAll")->isEnabled());
    EXPECT_FALSE(Find<QAbstractButton>("btnUnZipCancel")->isVisible());

    // Closing during a run cancels it; the window closes once it has ended.
    fs::remove_all(dir / "out");
    messages.clear();
    QTimer::singleShot(50, form.get(), [&] { form->close(); });
    Click("btnExtractAll");
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(fs::exists(dir / "out/big.bin"));
    EXPECT_TRUE(fs::exists(dir / "settings.ini"));
}

TEST_F(UnZipPage, HelpShowsThePageOfItsWindowAndTheMenuOpensTheAboutBox)
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
        QTest::mouseClick(box->findChild<QAbstractButton*>("AboutClose"), Qt::LeftButton);
    });
    form->findChild<QAction*>("Pm_About")->trigger();
    EXPECT_EQ(title, "About Zamblok / Zamblok V1.00  ( Build 4 )");
}
