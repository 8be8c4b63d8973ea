// UnZipPage: the widgets of the "Multiple UnZIP" page. They show the state
// of an UnZipPageController and hand the user's actions to it.
#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>

#include "app/UnZipPageController.h"
#include "ui/EntryList.h"
#include "ui/BusyCursor.h"
#include "ui/FolderEdit.h"

class QBoxLayout;

class UnZipPage : public QWidget {
    Q_OBJECT
public:
    UnZipPage(UnZipPageController& controller, QWidget* parent);

    // The toolbar, where the window adds its menu, help and exit buttons.
    QBoxLayout* Toolbar() const { return toolbar_; }

    // The archives to add, asked with a file dialog unless replaced (tests).
    std::function<QStringList()> AskArchives;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the controller's state: lists, counters, options, what is enabled.
    void Refresh();
    void ShowProgress();
    void ShowRows();
    // The menu of the entry list at pos: Open, Extract Selected, Delete..., Copy name.
    void ShowEntryMenu(const QPoint& pos);
    // Drags the entries of rows out, extracted as the drop asks for them.
    void DragOut(const std::vector<int>& rows);

    UnZipPageController& c_;
    QBoxLayout* toolbar_;
    ui::BusyCursor cursor_;

    QPushButton* btnExtractAll;
    QPushButton* btnExtractSelected;
    QPushButton* btnTest;
    QPushButton* btnUnZipCancel;
    QPushButton* btnOpenDestination;
    QComboBox* CodePage;
    QGroupBox* G2;
    QListWidget* ListBoxZipList;
    QPushButton* btnSelectZIP;
    QPushButton* btnDisplayDetails;
    QPushButton* btnRemoveUnZip;
    QPushButton* btnRemoveAllUnZip;
    QGroupBox* G3;
    QLineEdit* EditFilter;
    QLabel* LabelShown;
    ui::FileDetailModel* model_;
    ui::EntryListView* ListBoxFileDetail;
    QPushButton* btnSelectall;
    QPushButton* btnUnselectAll;
    QPushButton* btnDeleteSelectedFiles;
    QCheckBox* ChAotoDisplay;
    ui::FolderEdit* ExtractFolder;
    QCheckBox* ChCreateSubFolder;
    QCheckBox* ChUseOrigPath;
    QCheckBox* ChGoOn;
    QLineEdit* EditPWD;
    QButtonGroup* overwrite_;
    QProgressBar* ProgressUnZip;
    QLabel* LabelUnZipStatus;
    QListWidget* ListUnZipReport;
};
