// The "Multiple ZIP" page and the wildcard dialogs, driven as a user would,
// over real files; the archives made are checked by the peers.
#include <sys/stat.h>

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QProgressBar>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/IniFile.h"
#include "app/UnitAddWildcard.h"
#include "app/Wildcards.h"
#include "app/Unitselectbyfilter.h"
#include "tests/app/WindowTest.h"
#include "ui/ItemList.h"

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::WriteFile;

namespace {

class ZipPage : public WindowTest {
protected:
    void AddFiles(const std::vector<std::string>& files)
    {
        form->AskFiles = [files] {
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
    // Runs f on the modal dialog that the next action opens.
    void OnDialog(std::function<void(QWidget*)> f)
    {
        QTimer::singleShot(0, [f] { f(QApplication::activeModalWidget()); });
    }
};

std::vector<std::string> Names(const std::vector<std::string>& paths)
{
    std::vector<std::string> names;
    for (const std::string& p : paths)
        names.push_back(fs::path(p).filename().string());
    return names;
}

}  // namespace

TEST_F(ZipPage, ChecksNamesAndPartSizes)
{
    for (const char* f : {"a.txt", "b.txt", "c.txt"})
        WriteFile(dir / ("src/" + std::string(f)), f);
    Open();
    Click("btnZip");
    AddFiles({dir / "src/a.txt", dir / "src/b.txt", dir / "src/c.txt", dir / "src/A.TXT"});
    EXPECT_EQ(Items(), (std::vector<std::string>{dir / "src/a.txt", dir / "src/b.txt", dir / "src/c.txt"}));
    EXPECT_EQ(Title("G1"), "Items To ZIP: 3");

    // Manual names: "Backup.ZIP" is the base name Backup; an empty one is "Zamblok".
    SetFolder("TargetDirectory", dir / "out");
    Click("RaManuName");
    EXPECT_TRUE(Find<QLineEdit>("EditName")->isEnabled());
    const struct {
        const char* base;
        int per;
        std::vector<std::string> archives;
    } cases[] = {
        {"Backup.ZIP", 2, {"Backup00.zip", "Backup01.zip"}},
        {"  ", 1, {"Zamblok00.zip", "Zamblok01.zip", "Zamblok02.zip"}},
        {"three", 5, {"three00.zip"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        fs::remove_all(dir / "out");
        Find<QLineEdit>("EditName")->setText(c.base);
        Find<QSpinBox>("RxSpinPerItem")->setValue(c.per);
        Click("btnZip");
        EXPECT_EQ(Names(form->LastCreated), c.archives);
        EXPECT_TRUE(Find<QAbstractButton>("btnViewLastZip")->isVisible());
    }

    // The password is trimmed in its field before it is compared.
    Click("ChPassword");
    Find<QLineEdit>("EditPassword")->setText("  pw");
    Find<QLineEdit>("EditConfirmPassword")->setText("  pw");
    Click("btnZip");
    EXPECT_EQ(Find<QLineEdit>("EditPassword")->text(), "pw");

    // A destination under a file cannot be created.
    SetFolder("TargetDirectory", dir / "src/a.txt/out");
    Click("btnZip");

    // "Other Size" in Kb: 10 is raised to 64, parts of 65,536 bytes; switching the method resets the size.
    Click("RaBlock");
    auto* size = Find<QComboBox>("cbSplitSize");
    EXPECT_TRUE(size->isEnabled());
    size->setCurrentText("Other Size");
    emit size->activated(size->currentIndex());
    EXPECT_TRUE(Find<QSpinBox>("spinEditSplitSize")->isVisible());
    EXPECT_EQ(Find<QComboBox>("cbsplitType")->currentText(), "Mb");
    Find<QSpinBox>("spinEditSplitSize")->setValue(10);
    auto* unit = Find<QComboBox>("cbsplitType");
    unit->setCurrentText("Kb");
    emit unit->activated(unit->currentIndex());
    EXPECT_EQ(Find<QSpinBox>("spinEditSplitSize")->value(), 64);
    EXPECT_EQ(form->GetBlockSize(), 65536);
    Click("RaSingle");
    EXPECT_EQ(size->currentText(), "1.2M");
    EXPECT_FALSE(size->isEnabled());
    EXPECT_FALSE(Find<QSpinBox>("RxSpinPerItem")->isEnabled());
    EXPECT_EQ(form->GetBlockSize(), 1213952);

    EXPECT_EQ(messages, (std::vector<std::string>{"No item for ZIP, please select files first!",
                                                  "The Confirm password is not matching",
                                                  "Can not create the folder '" + dir / "src/a.txt/out" +
                                                      "', the operation will be aborted!"}));
}

TEST_F(ZipPage, ItemsAreMovedRemovedDroppedAndDrawnByWhatTheyAre)
{
    WriteFile(dir / "src/a.txt", "a");
    WriteFile(dir / "src/b.txt", "b");
    fs::create_directories(dir / "src/folder");
    Open();
    AddFiles({dir / "src/a.txt", dir / "src/b.txt"});
    auto* list = Find<QListWidget>("ListboxZIP");
    list->setCurrentRow(1);
    QTest::keyClick(list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(Items(), (std::vector<std::string>{dir / "src/b.txt", dir / "src/a.txt"}));
    Click("btnDown");
    EXPECT_EQ(Items(), (std::vector<std::string>{dir / "src/a.txt", dir / "src/b.txt"}));
    Click("btnDown");  // the last item goes no further
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
    EXPECT_EQ(ui::ItemGlyph(Q(dir / "src/a.txt")), 0);
    EXPECT_EQ(ui::ItemGlyph(Q(dir / "src/folder/*")), 1);
    fs::remove(dir / "src/a.txt");
    EXPECT_EQ(ui::ItemGlyph(Q(dir / "src/a.txt")), 1);

    list->setCurrentRow(2);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->currentRow(), 0);
    list->clearSelection();
    Click("btnRemoveZip");
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a item by clicking"});
    Click("btnRemoveAllZip");
    EXPECT_EQ(Title("G1"), "Items To ZIP: 0");
}

TEST_F(ZipPage, WildcardDialogsBuildItemsAndKeepTheList)
{
    Open();
    const QString settings = Q(dir / "settings.ini");
    const auto help = [](int) {};
    {
        // First use: "*.*"; the root gives "/*.*"; a folder gives folder/*.*.
        TFormselectbyfilter select(settings, QString(), help, form.get());
        EXPECT_EQ(select.findChild<QComboBox*>("ComboBox1")->currentText(), "*.*");
        select.Button1Click();
        EXPECT_EQ(messages, std::vector<std::string>{"Please select a folder!"});
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

TEST_F(ZipPage, CancelStopsTheArchiveUnderWayAndKeepsTheEarlierOnes)
{
    WriteFile(dir / "src/small.txt", "small");
    {
        std::ofstream big(dir / "src/big.bin", std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int i = 0; i < 32; ++i) {
            for (size_t k = 0; k < block.size(); ++k)
                block[k] = char((k * 2654435761u + unsigned(i)) >> 13);
            big << block;
        }
    }
    Open();
    AddFiles({dir / "src/small.txt", dir / "src/big.bin"});
    SetFolder("TargetDirectory", dir / "out");
    Find<QSpinBox>("SpinCompressRate")->setValue(1);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (Find<QProgressBar>("ProgressZip")->value() > 700 && Find<QAbstractButton>("spZipCancel")->isVisible())
            Click("spZipCancel");
    });
    ticker.start(5);
    Click("btnZip");
    ticker.stop();
    EXPECT_EQ(messages, std::vector<std::string>{"User Aborted Operation"});
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir / "out"))
        left.push_back(e.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"small.zip"});
    EXPECT_FALSE(Find<QAbstractButton>("btnViewLastZip")->isVisible());
    EXPECT_TRUE(Find<QAbstractButton>("btnZip")->isEnabled());
}

TEST_F(ZipPage, CreatedArchivesOpenEverywhereAndComeBackWhole)
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
        const std::string folder = dir / ("new/archives" + std::to_string(cipher)), back = dir / ("back" + std::to_string(cipher));
        SetFolder("TargetDirectory", folder);
        Find<QComboBox>("CbEncryption")->setCurrentIndex(cipher);
        Click("btnZip");
        ASSERT_EQ(form->LastCreated.size(), 3u);
        EXPECT_EQ(form->LastCreated[0], TZipFile::MakeAutoName(folder + "/", dir / "src/tree/*.*"));
        EXPECT_EQ(Names({form->LastCreated[1], form->LastCreated[2]}),
                  (std::vector<std::string>{"one.zip", "two.zip"}));
        for (const std::string& archive : form->LastCreated) {
            std::string out;
            EXPECT_EQ(testing_support::Run("unzip -t -P secret '" + archive + "'", &out) == 0, cipher == 0) << out;
            EXPECT_EQ(testing_support::Run("7zz t -psecret '" + archive + "'", &out), 0) << out;
        }

        Click("btnViewLastZip");
        EXPECT_EQ(form->ZipList, form->LastCreated);
        EXPECT_EQ(Rows(), 4);
        SetExtractFolder(back);
        Find<QLineEdit>("EditPWD")->setText("secret");
        Click("btnExtractAll");
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
