// The "Multiple ZIP" page and the wildcard dialogs, driven as a user would,
// over real files: the widgets follow the controller, and the archives made
// are checked by the peers.
#include <sys/stat.h>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/IniFile.h"
#include "app/UnitAddWildcard.h"
#include "app/Unitselectbyfilter.h"
#include "app/Wildcards.h"
#include "tests/app/WindowTest.h"
#include "ui/ItemList.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

class ZipPageTest : public WindowTest {
protected:
    void AddFiles(const std::vector<std::string>& files)
    {
        form->ZipView()->AskFiles = [files] {
            QStringList list;
            for (const std::string& f : files)
                list << Q(f);
            return list;
        };
        Click("btnSelectFile");
    }
    std::vector<std::string> Items()
    {
        std::vector<std::string> items;
        auto* list = Find<QListWidget>("ListboxZIP");
        for (int i = 0; i < list->count(); ++i)
            items.push_back(list->item(i)->text().toStdString());
        return items;
    }
    int Glyph(int row) { return Find<QListWidget>("ListboxZIP")->item(row)->data(ui::ItemList::GlyphRole).toInt(); }
    // Runs f on the modal dialog that the next action opens.
    void OnDialog(std::function<void(QWidget*)> f)
    {
        QTimer::singleShot(0, [f] { f(QApplication::activeModalWidget()); });
    }
    bool Shown(const char* name) { return Find<QWidget>(name)->isVisible(); }
    bool Enabled(const char* name) { return Find<QWidget>(name)->isEnabled(); }
};

std::vector<std::string> Names(const QStringList& paths)
{
    std::vector<std::string> names;
    for (const QString& p : paths)
        names.push_back(fs::path(p.toStdString()).filename().string());
    return names;
}

}  // namespace

TEST_F(ZipPageTest, TheControlsFollowTheirRules)
{
    // A method out of range checks none.
    WriteFile(dir / "settings.ini", "[Zip Options]\nZIP Method=7\n");
    Open();
    for (const char* radio : {"RaSingle", "RaBlock", "RaMultipleZIP"})
        EXPECT_FALSE(Find<QRadioButton>(radio)->isChecked()) << radio;
    EXPECT_TRUE(Enabled("RxSpinPerItem"));
    EXPECT_FALSE(Enabled("cbSplitSize"));
    const auto edits = {"EditName",     "RxSpintAdd0",  "EditPassword", "EditConfirmPassword",
                        "CbEncryption", "Editcomment"};
    for (const char* edit : edits)
        EXPECT_FALSE(Enabled(edit)) << edit;
    for (const char* hidden : {"spinEditSplitSize", "cbsplitType", "spZipCancel", "btnViewLastZip"})
        EXPECT_FALSE(Shown(hidden)) << hidden;

    Click("RaManuName");
    Click("ChPassword");
    Click("ChComment");
    for (const char* edit : edits)
        EXPECT_TRUE(Enabled(edit)) << edit;
    Click("ChPassword");
    EXPECT_FALSE(Enabled("CbEncryption"));
    Click("ChPassword");

    // The part size belongs to "Blocked ZIP" alone.
    for (const char* other : {"RaMultipleZIP", "RaSingle"}) {
        Click("RaBlock");
        EXPECT_TRUE(Enabled("cbSplitSize"));
        Click(other);
        EXPECT_FALSE(Enabled("cbSplitSize")) << other;
    }

    // "Other Size" in Kb: 10 is raised to 64, parts of 65,536 bytes; a new method starts at "1.2M".
    Click("RaBlock");
    auto* size = Find<QComboBox>("cbSplitSize");
    EXPECT_TRUE(size->isEnabled());
    size->setCurrentText("Other Size");
    EXPECT_TRUE(Shown("spinEditSplitSize") && Shown("cbsplitType"));
    EXPECT_EQ(Find<QComboBox>("cbsplitType")->currentText(), "Mb");
    Find<QSpinBox>("spinEditSplitSize")->setValue(10);
    Find<QComboBox>("cbsplitType")->setCurrentText("Kb");
    EXPECT_EQ(Find<QSpinBox>("spinEditSplitSize")->value(), 64);
    EXPECT_EQ(form->ZipController().GetBlockSize(), 65536);
    Click("RaSingle");
    EXPECT_EQ(size->currentText(), "1.2M");
    EXPECT_FALSE(size->isEnabled());
    EXPECT_FALSE(Enabled("RxSpinPerItem"));
    EXPECT_FALSE(Shown("spinEditSplitSize"));

    // The password is trimmed in its field before it is compared.
    WriteFile(dir / "src/a.txt", "a");
    AddFiles({dir / "src/a.txt"});
    Find<QLineEdit>("EditPassword")->setText("  pw");
    Find<QLineEdit>("EditConfirmPassword")->setText("  pw");
    Click("btnZip");
    EXPECT_EQ(Find<QLineEdit>("EditPassword")->text(), "pw");
    EXPECT_EQ(messages, std::vector<std::string>{"The Confirm password is not matching"});

    // A manual name left empty, or only ".zip", names the archive after the program.
    Find<QLineEdit>("EditConfirmPassword")->setText("pw");
    SetFolder("TargetDirectory", dir / "out");
    Find<QLineEdit>("EditName")->setText(" .zip");
    Run("btnZip");
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_TRUE(fs::exists(dir / "out/Zamblok.zip"));
}

// A box or button changed other than by a click (its accessible action, or
// in code) reaches the page, and the run takes what the controls show.
TEST_F(ZipPageTest, OptionsFollowTheControlsHoweverTheyChange)
{
    WriteFile(dir / "src/a.txt", "a");
    Open();
    const auto toggle = [&](const char* name) {
        QAccessibleInterface* control = QAccessible::queryAccessibleInterface(Find<QWidget>(name));
        ASSERT_TRUE(control && control->actionInterface()) << name;
        control->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    };
    toggle("ChPassword");
    EXPECT_TRUE(Enabled("EditPassword") && Enabled("EditConfirmPassword"));
    toggle("RaBlock");
    EXPECT_TRUE(Enabled("cbSplitSize"));
    EXPECT_FALSE(Enabled("RxSpinPerItem"));
    Find<QRadioButton>("RaMultipleZIP")->setChecked(true);
    EXPECT_TRUE(Enabled("RxSpinPerItem"));
    EXPECT_FALSE(Enabled("cbSplitSize"));
    // With the mouse too, the number per archive belongs to "Multiple ZIPs, per" alone.
    Click("RaBlock");
    EXPECT_FALSE(Enabled("RxSpinPerItem"));
    Find<QRadioButton>("RaSingle")->setChecked(true);

    AddFiles({dir / "src/a.txt"});
    SetFolder("TargetDirectory", dir / "out");
    Find<QLineEdit>("EditPassword")->setText("pw");
    Find<QLineEdit>("EditConfirmPassword")->setText("pw");
    Run("btnZip");
    EXPECT_EQ(messages, std::vector<std::string>{});
    ASSERT_EQ(form->ZipController().LastCreated().size(), 1);
    EXPECT_EQ(testing_support::Run("python3 -c \"import sys,zipfile\nsys.exit(0 if all(i.flag_bits & 1 for i in "
                                   "zipfile.ZipFile(sys.argv[1]).infolist()) else 1)\" '" +
                                   form->ZipController().LastCreated()[0].toStdString() + "'"),
              0);
}

TEST_F(ZipPageTest, ItemsAreMovedRemovedDroppedAndDrawnByWhatTheyAre)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b?.txt", "b");
    fs::create_directories(dir / "src/folder");
    Open();
    AddFiles({dir / "src/a.txt", dir / "src/b?.txt", dir / "src/A.TXT"});
    EXPECT_EQ(Title("G1"), "Items To ZIP: 3");
    auto* list = Find<QListWidget>("ListboxZIP");
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Items(), (std::vector<std::string>{dir / "src/b?.txt", dir / "src/a.txt", dir / "src/A.TXT"}));
    Click("btnDown");
    EXPECT_EQ(Items(), (std::vector<std::string>{dir / "src/a.txt", dir / "src/b?.txt", dir / "src/A.TXT"}));
    EXPECT_EQ(list->currentRow(), 1);

    // A dropped folder becomes the wildcard item folder/*.
    QMimeData dropped;
    dropped.setUrls({QUrl::fromLocalFile(Q(dir / "src/folder"))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &drop);
    EXPECT_EQ(Items().back(), dir / "src/folder/*");

    // Glyph 0 for a readable file, 1 for a wildcard item or a file that went.
    QTRY_COMPARE(Glyph(0), 0);
    QTRY_COMPARE(Glyph(1), 0);
    EXPECT_EQ(Glyph(2), 1);
    EXPECT_EQ(Glyph(3), 1);
    fs::remove(dir / "src/a.txt");
    QTRY_COMPARE_WITH_TIMEOUT(Glyph(0), 1, 3000);

    list->setCurrentRow(3);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->currentRow(), 0);
    list->clearSelection();
    Click("btnRemoveZip");
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a item by clicking"});
    Click("btnRemoveAllZip");
    EXPECT_EQ(Title("G1"), "Items To ZIP: 0");
}

TEST_F(ZipPageTest, WildcardDialogsBuildItemsAndKeepTheList)
{
    Open();
    // The dialog opens with no folder chosen: OK at once adds nothing.
    OnDialog([&](QWidget* dialog) {
        auto* select = qobject_cast<TFormselectbyfilter*>(dialog);
        ASSERT_NE(select, nullptr);
        EXPECT_EQ(select->findChild<QComboBox*>("ComboBox1")->currentText(), "*.*");
        select->findChild<QTreeView*>("ShellTree1")->setFocus();
        select->Button1Click();
        select->reject();
    });
    Click("btnSelectFolder");
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a folder!"});
    EXPECT_TRUE(Items().empty());

    const QString settings = Q(dir / "settings.ini");
    const auto help = [](int) {};
    {
        // The root gives "/*.*"; a folder gives folder/*.*.
        TFormselectbyfilter select(settings, help, form.get());
        select.SelectFolder("/");
        EXPECT_EQ(select.Result(), "/*.*");
        select.SelectFolder(Q(dir.Path()));
        EXPECT_EQ(select.Result(), Q(dir / "*.*"));
        EXPECT_EQ(select.findChild<QLabel*>("labFolder")->text(), Q(dir.Path()));
    }

    WriteFile(dir / "settings.ini", "[Common]\nWildcard Total=5\nWildcard0=*.a\nWildcard1=*.b\nWildcard2=*.c\n"
                                    "Wildcard3=*.d\nWildcard4=*.e\n");
    {
        TFormWildcard edit(settings, help, form.get());
        auto* list = edit.findChild<QListWidget*>("ListBox1");
        auto* text = edit.findChild<QLineEdit*>("Edit1");
        text->setText(" *.doc ");
        edit.SpNewClick();
        text->setText("*.DOC");
        edit.SpNewClick();
        EXPECT_EQ(text->text(), "");
        EXPECT_EQ(list->count(), 6);
        EXPECT_EQ(list->item(5)->text(), "*.doc");
        // Cancel saves nothing.
        edit.reject();
    }
    EXPECT_EQ(LoadWildcards(dir / "settings.ini").size(), 5u);
    {
        TFormWildcard edit(settings, help, form.get());
        auto* list = edit.findChild<QListWidget*>("ListBox1");
        list->setCurrentRow(1);
        edit.Button4Click();
        list->setCurrentRow(3);
        edit.SpeedButton3Click();  // *.e moves above *.d
        list->setCurrentRow(0);
        edit.Button4Click();
        edit.btnOkClick();
    }
    const TIniFile ini(dir / "settings.ini");
    EXPECT_EQ(ini.ReadInteger("Common", "Wildcard Total", 0), 3);
    EXPECT_EQ(ini.ReadString("Common", "Wildcard0", ""), "*.c");
    EXPECT_EQ(ini.ReadString("Common", "Wildcard1", ""), "*.e");
    EXPECT_EQ(ini.ReadString("Common", "Wildcard2", ""), "*.d");
    EXPECT_EQ(ini.ReadString("Common", "Wildcard4", ""), "*.e") << "old keys stay, unread";

    // Through the page: the dialog's result becomes an item.
    OnDialog([&](QWidget* dialog) {
        auto* select = qobject_cast<TFormselectbyfilter*>(dialog);
        ASSERT_NE(select, nullptr);
        EXPECT_EQ(select->findChild<QComboBox*>("ComboBox1")->currentText(), "*.c");
        select->SelectFolder(Q(dir.Path()));
        select->Button1Click();
    });
    Click("btnSelectFolder");
    EXPECT_EQ(Items(), std::vector<std::string>{dir / "*.c"});
}

TEST_F(ZipPageTest, CancelStopsTheArchiveUnderWayAndKeepsTheEarlierOnes)
{
    WriteFile(dir / "src/small.txt", "small");
    {
        // Text that deflate works hard on at level 9.
        std::ofstream big(dir / "src/big.txt", std::ios::binary);
        for (unsigned i = 0; i < (2u << 20); ++i)
            big << "entry " << (i * 7919u) % 100003u << " of a long list\n";
    }
    Open();
    AddFiles({dir / "src/small.txt", dir / "src/big.txt"});
    SetFolder("TargetDirectory", dir / "out");
    Find<QSpinBox>("SpinCompressRate")->setValue(9);
    Click("btnZip");
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
    EXPECT_FALSE(Enabled("btnZip"));
    // Cancelled once the second archive is under way.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Find<QProgressBar>("ProgressZip")->value() > 500; }, 60000));
    ASSERT_TRUE(form->ZipController().Running());
    Click("spZipCancel");
    EXPECT_FALSE(Shown("spZipCancel"));
    WaitIdle();
    EXPECT_EQ(messages, std::vector<std::string>{"User Aborted Operation"});
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir / "out"))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"small.zip"});
    EXPECT_FALSE(Shown("btnViewLastZip"));
    EXPECT_TRUE(Enabled("btnZip"));
    EXPECT_TRUE(Find<QLabel>("LabelZipStatus")->text().endsWith(" Cancelled."));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ZipPageTest, CreatedArchivesOpenEverywhereAndComeBackWhole)
{
    WriteFile(dir / "src/tree/x.txt", "x in the tree");
    WriteFile(dir / "src/tree/sub/y.bin", std::string("\0\1\2binary", 9));
    WriteFile(dir / "src/one.txt", "one");
    WriteFile(dir / "src/two.sh", "#!/bin/sh\necho two\n");
    chmod((dir / "src/two.sh").c_str(), 0755);
    chmod((dir / "src/tree/x.txt").c_str(), 0640);
    Open();
    OnDialog([&](QWidget* dialog) {
        auto* select = qobject_cast<TFormselectbyfilter*>(dialog);
        ASSERT_NE(select, nullptr);
        select->SelectFolder(Q(dir / "src/tree"));
        select->Button1Click();
    });
    Click("btnSelectFolder");
    AddFiles({dir / "src/one.txt", dir / "src/two.sh"});
    Click("ChPassword");
    Find<QLineEdit>("EditPassword")->setText("secret");
    Find<QLineEdit>("EditConfirmPassword")->setText("secret");
    // Each cipher: the traditional one, then AES-256, which Info-ZIP's unzip cannot open.
    for (const int cipher : {0, 1}) {
        SCOPED_TRACE(cipher);
        const std::string folder = dir / ("new/archives" + std::to_string(cipher)),
                          back = dir / ("back" + std::to_string(cipher));
        SetFolder("TargetDirectory", folder);
        Find<QComboBox>("CbEncryption")->setCurrentIndex(cipher);
        Run("btnZip");
        const QStringList created = form->ZipController().LastCreated();
        ASSERT_EQ(created.size(), 3);
        EXPECT_EQ(created[0].toStdString(), TZipFile::MakeAutoName(folder + "/", dir / "src/tree/*.*"));
        EXPECT_EQ(Names(created.mid(1)), (std::vector<std::string>{"one.zip", "two.zip"}));
        for (const QString& archive : created) {
            std::string out;
            const std::string name = archive.toStdString();
            EXPECT_EQ(testing_support::Run("unzip -t -P secret '" + name + "'", &out) == 0, cipher == 0) << out;
            EXPECT_EQ(testing_support::Run("7zz t -psecret '" + name + "'", &out), 0) << out;
        }

        Click("btnViewLastZip");
        WaitIdle();
        std::vector<std::string> archives;
        for (const QString& archive : created)
            archives.push_back(archive.toStdString());
        EXPECT_EQ(Archives(), archives);
        EXPECT_EQ(Rows(), 4);
        SetExtractFolder(back);
        Find<QLineEdit>("EditPWD")->setText("secret");
        Run("btnExtractAll");
        EXPECT_TRUE(messages.empty());
        for (const char* file : {"src/tree/x.txt", "src/tree/sub/y.bin", "src/one.txt", "src/two.sh"}) {
            SCOPED_TRACE(file);
            const std::string source = dir / file;
            const std::string copy = back + source;  // stored with its full path
            EXPECT_EQ(ReadFile(copy), ReadFile(source));
            struct stat a {}, b {};
            ASSERT_EQ(stat(source.c_str(), &a), 0);
            ASSERT_EQ(stat(copy.c_str(), &b), 0);
            EXPECT_EQ(a.st_mode, b.st_mode);
        }
    }
}

namespace {

// A file of 200,000 bytes that deflate cannot shrink: four parts of 64 KiB.
void WriteNoise(const std::string& path)
{
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_EQ(testing_support::Run("head -c 200000 /dev/urandom > '" + path + "'"), 0);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Chooses "Blocked ZIP" on the page with parts of 64 KiB.
void ChooseBlocked(QWidget* page)
{
    page->findChild<QAbstractButton*>("RaBlock")->click();
    page->findChild<QComboBox*>("cbSplitSize")->setCurrentIndex(ZipPageController::OtherSize);
    page->findChild<QComboBox*>("cbsplitType")->setCurrentIndex(0);
    page->findChild<QSpinBox*>("spinEditSplitSize")->setValue(65536);
}

}  // namespace

// Blocked parts are named as other tools read them, or in the older form
// when the setting says so; the setting is kept; both sets read back.
TEST_F(ZipPageTest, BlockedPartsAreNamedAsOtherToolsReadThem)
{
    WriteNoise(dir / "src/noise.bin");
    struct Case {
        bool older;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {false, {"noise.z01", "noise.z02", "noise.z03", "noise.zip"}},
        {true, {"noise.zip", "noise.zip.z01", "noise.zip.z02", "noise.zip.z03"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.older);
        // The window opens on the settings the case before left.
        Open();
        auto* older = Find<QAbstractButton>("ChZipPartNames");
        EXPECT_EQ(older->isChecked(), c.older);
        EXPECT_EQ(older->isEnabled(), c.older);  // the blocked method was kept too
        ChooseBlocked(form->ZipView());
        ASSERT_TRUE(older->isEnabled());
        AddFiles({dir / "src/noise.bin"});
        const std::string out = dir / (c.older ? "older" : "peer");
        SetFolder("TargetDirectory", out);
        Run("btnZip");
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(FilesIn(out), c.parts);
        EXPECT_EQ(form->ZipController().LastCreated(), QStringList{Q(out + "/noise.zip")});
        Click("btnViewLastZip");
        WaitIdle();
        EXPECT_EQ(Rows(), 1);
        if (!c.older) {
            // 7-Zip opens the set as it is.
            std::string said;
            EXPECT_EQ(testing_support::Run("7zz t '" + out + "/noise.zip'", &said), 0) << said;
            // Checked now, the next case finds it so.
            older->click();
        }
        form->close();
    }
}

// The summary counts the archives kept and their files, and says why
// nothing or less was written: skipped files under the archive the user
// asked for, the writer's failure in an information box with the system's
// reason, a run that wrote nothing in an error box.
TEST_F(ZipPageTest, TheSummaryTellsWhatWasKeptAndWhy)
{
    WriteFile(dir / "src/small.txt", "small");
    WriteNoise(dir / "src/noise.bin");
    {
        // Text that deflate works hard on at level 9.
        std::ofstream big(dir / "src/big.txt", std::ios::binary);
        for (unsigned i = 0; i < (2u << 20); ++i)
            big << "entry " << (i * 7919u) % 100003u << " of a long list\n";
    }
    const std::string gone = dir / "src/gone.txt";
    struct Case {
        const char* what;
        std::vector<std::string> items;
        std::string folder;
        bool blocked, cancel;
        std::string status;
        std::vector<std::string> messages;
        std::vector<unsigned> icons;
        std::vector<std::string> report;
    };
    const Case cases[] = {
        {"cancelled in the second archive", {dir / "src/small.txt", dir / "src/big.txt"}, dir / "out1", false, true,
         "Wrote 1 archive with 1 file; skipped 0. Cancelled.", {"User Aborted Operation"}, {0x40}, {}},
        {"a folder that takes no file", {dir / "src/small.txt"}, "/sys", false, false,
         "Wrote 0 archives with 0 files; skipped 0. Stopped: Cannot create file /sys/small.zip: Permission denied",
         {"Cannot create file /sys/small.zip: Permission denied"}, {0x40}, {}},
        {"a file gone from a set in parts", {dir / "src/noise.bin", gone}, dir / "out2", true, false,
         "Wrote 1 archive with 1 file; skipped 1.", {}, {}, {"split.zip: " + gone + ": not found; skipped"}},
        {"no file to add", {gone}, dir / "out3", true, false, "Wrote 0 archives with 0 files; skipped 1.",
         {"No ZIP archive was written: no file could be added.\n\nsplit.zip: " + gone + ": not found; skipped"},
         {0x10}, {"split.zip: " + gone + ": not found; skipped"}},
    };
    Open();
    Find<QSpinBox>("SpinCompressRate")->setValue(9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages.clear();
        icons.clear();
        Click("btnRemoveAllZip");
        WriteFile(gone, "");
        AddFiles(c.items);
        fs::remove(gone);
        SetFolder("TargetDirectory", c.folder);
        if (c.blocked) {
            ChooseBlocked(form->ZipView());
            Click("RaManuName");
            Find<QLineEdit>("EditName")->setText("split");
        } else {
            Click("RaMultipleZIP");
            Click("RaAutoName");
        }
        Click("btnZip");
        if (c.cancel) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return Find<QProgressBar>("ProgressZip")->value() > 500; }, 60000));
            Click("spZipCancel");
        }
        WaitIdle();
        EXPECT_EQ(Find<QLabel>("LabelZipStatus")->text().toStdString(), c.status);
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(icons, c.icons);
        std::vector<std::string> report;
        for (const QString& line : form->ZipController().Report())
            report.push_back(line.toStdString());
        EXPECT_EQ(report, c.report);
    }
}

// Every button and option of the page, and the window's own buttons on
// its toolbar, has an access key of its own, and the key reaches it.
TEST_F(ZipPageTest, EveryButtonAndOptionHasItsOwnAccessKey)
{
    Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QWidget* page = form->ZipView();
    std::map<int, std::string> taken;
    for (QAbstractButton* button : page->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty())
            continue;  // a glyph alone: the folder edit's browse button
        const std::string name = button->objectName().toStdString();
        const QKeySequence key = QKeySequence::mnemonic(button->text());
        ASSERT_FALSE(key.isEmpty()) << name;
        const auto [at, added] = taken.emplace(key[0].toCombined(), name);
        EXPECT_TRUE(added) << name << " has the key of " << at->second;
        // The key presses the button (its action held back: only that it was reached counts).
        if (!button->isVisible() || !button->isEnabled())
            continue;
        const QSignalBlocker quiet(button);
        QTest::keyClick(form.get(), Qt::Key(key[0].key()), Qt::AltModifier);
        EXPECT_TRUE(button->isDown()) << name;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !button->isDown(); }));
    }
    EXPECT_EQ(taken.size(), 23u);
}
