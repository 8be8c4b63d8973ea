// The main window under test: opened on a settings file of the test's own
// folder, found by control names, with every message box recorded and
// answered by script.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/UnitMain.h"
#include "platform/Hooks.h"
#include "tests/TestSupport.h"

inline QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

class WindowTest : public ::testing::Test {
protected:
    // Opens the window on the settings file of the test's folder; every
    // message box is recorded and answered with answer.
    void Open()
    {
        form = std::make_unique<TFormMain>(Q(dir / "settings.ini"), ZAMBLOK_HELP_DIR);
        platform::InstalledHooks().MessageBox = [this](const std::string& text, const std::string&, unsigned flags) {
            messages.push_back(text);
            icons.push_back(flags & 0xF0);
            return answer;
        };
        form->show();
    }
    void TearDown() override
    {
        if (form)
            form->close();
        platform::InstalledHooks() = {};
    }
    template <class T>
    T* Find(const char* name)
    {
        T* w = form->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // A click on the button (wide check boxes and radio buttons take a mouse
    // click only on their text, so the click is the button's own).
    void Click(const char* name) { Find<QAbstractButton>(name)->click(); }
    QString Title(const char* group) { return Find<QGroupBox>(group)->title(); }
    int Rows() { return Find<QAbstractItemView>("ListBoxFileDetail")->model()->rowCount(); }
    // Archives of Info-ZIP from the files under src, named as given.
    std::string Zip(const std::string& name, const std::string& files, const std::string& options = "")
    {
        EXPECT_EQ(testing_support::Run("cd '" + (dir / "src") + "' && zip -q " + options + " '" + (dir / name) +
                                       "' " + files),
                  0);
        return dir / name;
    }
    // Lets the window work until the runs of both pages have ended.
    void WaitIdle()
    {
        EXPECT_TRUE(QTest::qWaitFor([this] { return !form->Running(); }, 60000));
    }
    // Adds archives through "Add..." and waits for their listing.
    void Add(const std::vector<std::string>& archives)
    {
        form->UnZipView()->AskArchives = [&] {
            QStringList files;
            for (const std::string& a : archives)
                files << Q(a);
            return files;
        };
        Click("btnSelectZIP");
        WaitIdle();
    }
    // Clicks a button that starts a run and waits for its end.
    void Run(const char* button)
    {
        Click(button);
        WaitIdle();
    }
    const ParArrayOfFileDetail& Details() { return form->UnZipController().Rows(); }
    const std::vector<std::string>& Archives() { return form->UnZipController().Archives(); }
    void SelectRows(const std::vector<int>& rows)
    {
        auto* view = Find<QAbstractItemView>("ListBoxFileDetail");
        view->clearSelection();
        for (int r : rows)
            view->selectionModel()->select(view->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Types folder into a folder edit ("ExtractFolder", "TargetDirectory").
    void SetFolder(const char* edit, const std::string& folder)
    {
        Find<QWidget>(edit)->findChild<QLineEdit*>()->setText(Q(folder));
    }
    void SetExtractFolder(const std::string& folder) { SetFolder("ExtractFolder", folder); }

    testing_support::TempDir dir;
    std::unique_ptr<TFormMain> form;
    std::vector<std::string> messages;
    std::vector<unsigned> icons;  // of the messages: 0x10 error, 0x30 warning, 0x40 information
    int answer = platform::idYes;
};

