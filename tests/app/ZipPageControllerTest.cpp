// The "Multiple ZIP" page's rules, settings, buttons and runs, without widgets.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <functional>

#include "app/IniFile.h"
#include "app/ZipPageController.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

namespace fs = std::filesystem;
using testing_support::WriteFile;

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

class ZipPageControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::InstalledHooks().MessageBox = [this](const std::string& text, const std::string&, unsigned) {
            messages.push_back(text);
            return platform::idOK;
        };
    }
    void TearDown() override { platform::InstalledHooks() = {}; }

    void Change(const std::function<void(ZipOptions&)>& edit)
    {
        ZipOptions o = c.Options();
        edit(o);
        c.SetOptions(o);
    }
    // Starts a run and waits for its end.
    void Create()
    {
        c.Create();
        EXPECT_TRUE(QTest::qWaitFor([this] { return !c.Running(); }, 60000));
    }
    std::vector<std::string> Entries(const QString& archive)
    {
        std::string out;
        EXPECT_EQ(testing_support::Run("python3 -c \"import sys,zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): "
                                       "print(n)\" '" + archive.toStdString() + "'",
                                       &out),
                  0);
        std::vector<std::string> names;
        for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            names.push_back(out.substr(at, end - at));
        return names;
    }

    testing_support::TempDir dir;
    ZipPageController c;
    std::vector<std::string> messages;
};

}  // namespace

TEST_F(ZipPageControllerTest, OptionRulesAndPartSizes)
{
    const struct {
        const char* what;
        std::function<void(ZipOptions&)> edit;
        bool perItem, splitSize, otherShown;
        int partSize, unit, otherSize;
        int64_t blockSize;
    } cases[] = {
        {"first start", [](ZipOptions&) {}, true, false, false, 0, -1, 1, 1213952},
        {"blocked", [](ZipOptions& o) { o.method = 1, o.partSize = 6; }, false, true, false, 0, -1, 1, 1213952},
        {"CD-ROM", [](ZipOptions& o) { o.partSize = 6; }, false, true, false, 6, -1, 1, 650000000},
        {"Other Size takes Mb", [](ZipOptions& o) { o.partSize = 7; }, false, true, true, 7, 2, 1, 1048576},
        {"Kb raises 10 to 64", [](ZipOptions& o) { o.otherUnit = 1, o.otherSize = 10; }, false, true, true, 7, 1, 64, 65536},
        {"bytes raise it to 64 KiB", [](ZipOptions& o) { o.otherUnit = 0; }, false, true, true, 7, 0, 65536, 65536},
        {"a new method starts at 1.2M", [](ZipOptions& o) { o.method = 0; }, false, false, false, 0, 0, 65536, 1213952},
        {"no method chosen", [](ZipOptions& o) { o.method = 7, o.partSize = 2; }, true, false, false, 0, 0, 65536, 1213952},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        Change(k.edit);
        EXPECT_EQ(c.PerItemEnabled(), k.perItem);
        EXPECT_EQ(c.SplitSizeEnabled(), k.splitSize);
        EXPECT_EQ(c.OtherSizeShown(), k.otherShown);
        EXPECT_EQ(c.Options().partSize, k.partSize);
        EXPECT_EQ(c.Options().otherUnit, k.unit);
        EXPECT_EQ(c.Options().otherSize, k.otherSize);
        EXPECT_EQ(c.GetBlockSize(), k.blockSize);
    }
}

TEST_F(ZipPageControllerTest, SettingsAreReadAndWrittenUnderTheirKeys)
{
    // First start: the defaults.
    c.LoadSettings(TIniFile(dir / "none.ini"));
    EXPECT_EQ(c.Options(), ([] {
                  ZipOptions o;
                  o.destination = QDir::homePath();
                  o.baseName = "Filename";
                  return o;
              })());

    const std::vector<std::pair<std::string, std::string>> keys = {
        {"AddPassword", "1"}, {"Encryption", "1"},       {"AddComment", "1"},       {"ZIP Method", "1"},
        {"IsAutoName", "0"},  {"PerItem", "9"},          {"Manual Filename", "Backup 2024"}, {"Suff", "5"},
        {"InCludeSubFolder", "0"}, {"StorePath", "0"}, {"IncludeSysAndHide", "0"}, {"Rate", "3"},
    };
    std::string text = "[Zip Options]\n";
    for (const auto& [key, value] : keys)
        text += key + "=" + value + "\n";
    WriteFile(dir / "settings.ini", text);
    c.LoadSettings(TIniFile(dir / "settings.ini"));
    const ZipOptions& o = c.Options();
    EXPECT_TRUE(o.addPassword && o.addComment && !o.autoName && !o.subfolders && !o.storePaths && !o.sysAndHidden);
    EXPECT_EQ(o.encryption, 1);
    EXPECT_EQ(o.method, 1);
    EXPECT_EQ(o.perItem, 9);
    EXPECT_EQ(o.baseName, "Backup 2024");
    EXPECT_EQ(o.numberWidth, 5);
    EXPECT_EQ(o.level, 3);
    EXPECT_EQ(c.SettingsFile(), Q(dir / "settings.ini"));
    TIniFile saved(dir / "saved.ini");
    c.SaveSettings(saved);
    for (const auto& [key, value] : keys)
        EXPECT_EQ(saved.ReadString("Zip Options", key, "missing"), value) << key;

    // A method out of range chooses none, and is saved as 0.
    WriteFile(dir / "settings.ini", "[Zip Options]\nZIP Method=7\n");
    c.LoadSettings(TIniFile(dir / "settings.ini"));
    EXPECT_EQ(c.Options().method, 7);
    c.SaveSettings(saved);
    EXPECT_EQ(saved.ReadInteger("Zip Options", "ZIP Method", -1), 0);
}

TEST_F(ZipPageControllerTest, ItemButtons)
{
    for (const char* f : {"report.txt", "Report.txt", "what?.txt", "a*<b>.txt"})
        WriteFile(dir / f, f);
    fs::create_directories(dir / "folder");
    c.AddItems({Q(dir / "report.txt"), Q(dir / "Report.txt"), Q(dir / "report.txt"), Q(dir / "what?.txt"),
                Q(dir / "a*<b>.txt"), Q(dir / "folder")});
    c.AddWildcard("  " + Q(dir / "*.txt") + " ");
    c.AddWildcard(Q(dir / "*.txt"));
    const QStringList all = {Q(dir / "report.txt"), Q(dir / "Report.txt"), Q(dir / "what?.txt"),
                             Q(dir / "a*<b>.txt"),  Q(dir / "folder/*"),   Q(dir / "*.txt")};
    EXPECT_EQ(c.Items(), all);
    EXPECT_EQ(c.Selected(), 0);

    c.Move(-1);  // the first goes no higher
    EXPECT_EQ(c.Items(), all);
    c.Move(1);
    EXPECT_EQ(c.Items()[1], all[0]);
    EXPECT_EQ(c.Selected(), 1);
    c.Select(5);
    c.Move(1);  // nor the last lower
    EXPECT_EQ(c.Selected(), 5);

    c.Remove();  // the last: the first is selected
    EXPECT_EQ(c.Items().size(), 5);
    EXPECT_EQ(c.Selected(), 0);
    c.Select(2);
    c.Remove();  // the one now at its place is selected
    EXPECT_EQ(c.Items()[2], all[3]);
    EXPECT_EQ(c.Selected(), 2);
    c.Select(-1);
    c.Remove();
    EXPECT_EQ(c.Items().size(), 4);
    c.RemoveAll();
    EXPECT_TRUE(c.Items().isEmpty());
    EXPECT_EQ(c.Selected(), -1);
    c.Remove();  // nothing to remove, nothing said
    EXPECT_EQ(messages, std::vector<std::string>{"Please select a item by clicking"});
}

TEST_F(ZipPageControllerTest, RunsThatCannotBeRightAreRefusedBeforeAnyWork)
{
    WriteFile(dir / "src/a.txt", "a");
    const std::string out = dir / "out";
    const auto outside = [](const char* name) {
        return "The filename '" + std::string(name) +
               "' must not contain '/': the ZIP archives are made in the destination directory";
    };
    const struct {
        const char* what;
        std::function<void(ZipOptions&)> edit;
        std::string message;
    } cases[] = {
        {"passwords differ", [](ZipOptions& o) { o.addPassword = true, o.password = "pw", o.confirm = "pw "; },
         "The Confirm password is not matching"},
        {"no password", [](ZipOptions& o) { o.addPassword = true; }, "Please enter a password"},
        {"blank password", [](ZipOptions& o) { o.addPassword = true, o.password = "  "; }, "Please enter a password"},
        {"parent folder", [](ZipOptions& o) { o.baseName = "../x"; }, outside("../x")},
        {"subfolder", [](ZipOptions& o) { o.baseName = "a/b"; }, outside("a/b")},
        {"absolute", [](ZipOptions& o) { o.baseName = "/x"; }, outside("/x")},
        {"empty destination", [](ZipOptions& o) { o.destination = " "; }, "Unable to create directory"},
    };
    c.Create();
    EXPECT_EQ(messages, std::vector<std::string>{"No item for ZIP, please select files first!"});
    c.AddItems({Q(dir / "src/a.txt")});
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        messages.clear();
        Change([&](ZipOptions& o) {
            o = ZipOptions();
            o.destination = Q(out);
            o.autoName = false;
            o.baseName = "fine";
            k.edit(o);
        });
        c.Create();
        EXPECT_FALSE(c.Running());
        EXPECT_EQ(messages, std::vector<std::string>{k.message});
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(dir / "x.zip") || fs::exists(dir / "x00.zip") || fs::exists("/x00.zip"));
    }
    // The password is trimmed where it was typed, before it is compared.
    messages.clear();
    Change([&](ZipOptions& o) { o.addPassword = true, o.password = " pw", o.confirm = " pw"; });
    c.Create();
    EXPECT_EQ(messages, std::vector<std::string>{"The Confirm password is not matching"});
    EXPECT_EQ(c.Options().password, "pw");

    messages.clear();
    Change([&](ZipOptions& o) { o.addPassword = false; });
    Change([&](ZipOptions& o) { o.destination = Q(dir / "src/a.txt/out"); });
    c.Create();
    EXPECT_EQ(messages, std::vector<std::string>{"Can not create the folder '" + dir / "src/a.txt/out" +
                                                 "', the operation will be aborted!"});
}

TEST_F(ZipPageControllerTest, CreateNamesArchivesReportsAndViews)
{
    for (const char* f : {"a.txt", "b.txt", "c.txt"})
        WriteFile(dir / ("src/" + std::string(f)), f);
    c.AddItems({Q(dir / "src/a.txt"), Q(dir / "src/b.txt"), Q(dir / "src/c.txt")});
    QSignalSpy ended(&c, &ZipPageController::RunEnded);
    const struct {
        const char* base;
        int method, per;
        QStringList archives;
    } cases[] = {
        {"Backup.ZIP", 2, 2, {"Backup00.zip", "Backup01.zip"}},
        {"three", 2, 5, {"three00.zip"}},
        {"all", 0, 1, {"all.zip"}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.base);
        fs::remove_all(dir / "out");
        Change([&](ZipOptions& o) {
            o.destination = Q(dir / "out");
            o.autoName = false;
            o.baseName = k.base;
            o.method = k.method;
            o.perItem = k.per;
        });
        Create();
        QStringList expected;
        for (const QString& name : k.archives)
            expected << Q(dir / "out/") + name;
        EXPECT_EQ(c.LastCreated(), expected);
        EXPECT_TRUE(c.ViewShown());
        EXPECT_EQ(c.ProgressValue(), 1000);
    }
    EXPECT_EQ(ended.size(), 3);
    EXPECT_TRUE(messages.empty());

    // A file gone meanwhile is reported and counted.
    fs::remove(dir / "src/b.txt");
    fs::remove_all(dir / "out");
    Create();
    EXPECT_EQ(c.Status(), "Wrote 1 archive with 2 files; skipped 1.");
    EXPECT_EQ(c.Report(), QStringList{"all.zip: " + Q(dir / "src/b.txt") + ": not found; skipped"});

    QSignalSpy view(&c, &ZipPageController::ViewArchives);
    c.View();
    ASSERT_EQ(view.size(), 1);
    EXPECT_EQ(view[0][0].toStringList(), QStringList{Q(dir / "out/all.zip")});
}

TEST_F(ZipPageControllerTest, AFileNamedLikeAWildcardIsThatFileAlone)
{
    for (const char* f : {"what?.txt", "whatX.txt", "sub/whatY.txt", "a<b-c>.txt", "ab.txt"})
        WriteFile(dir / ("src/" + std::string(f)), f);
    c.AddItems({Q(dir / "src/what?.txt"), Q(dir / "src/a<b-c>.txt")});
    Change([&](ZipOptions& o) {
        o.destination = Q(dir / "out");
        o.method = 0;
        o.storePaths = false;
    });
    Create();
    ASSERT_EQ(c.LastCreated().size(), 1);
    EXPECT_EQ(Entries(c.LastCreated()[0]), (std::vector<std::string>{"what?.txt", "a<b-c>.txt"}));
}
