// ZipPage: the widgets of the "Multiple ZIP" page. They show the state of a
// ZipPageController and hand the user's actions to it.
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
#include <QRadioButton>
#include <QSpinBox>
#include <QWidget>
#include <functional>

#include "app/ZipPageController.h"
#include "ui/BusyCursor.h"
#include "ui/FolderEdit.h"
#include "ui/ItemList.h"

class QBoxLayout;

class ZipPage : public QWidget {
    Q_OBJECT
public:
    // help opens a help page by its context number.
    ZipPage(ZipPageController& controller, std::function<void(int)> help, QWidget* parent);

    // The toolbar, where the window adds its menu, help and exit buttons.
    QBoxLayout* Toolbar() const { return toolbar_; }

    // The files to add, asked with a file dialog unless replaced (tests).
    std::function<QStringList()> AskFiles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the controller's state: items, options, what is enabled and shown.
    void Refresh();
    void ShowProgress();
    // The options as the controls hold them.
    ZipOptions Shown() const;
    void AddWildcard();

    ZipPageController& c_;
    std::function<void(int)> help_;
    QBoxLayout* toolbar_;
    ui::BusyCursor cursor_;

    QPushButton* btnZip;
    QPushButton* btnViewLastZip;
    QPushButton* spZipCancel;
    QGroupBox* G1;
    ui::ItemList* ListboxZIP;
    QButtonGroup* method_;
    QRadioButton* RaSingle;
    QRadioButton* RaBlock;
    QRadioButton* RaMultipleZIP;
    QComboBox* cbSplitSize;
    QSpinBox* spinEditSplitSize;
    QComboBox* cbsplitType;
    QSpinBox* RxSpinPerItem;
    QCheckBox* ChZipPartNames;
    ui::FolderEdit* TargetDirectory;
    QRadioButton* RaAutoName;
    QRadioButton* RaManuName;
    QLineEdit* EditName;
    QSpinBox* RxSpintAdd0;
    QCheckBox* chStorePath;
    QCheckBox* ChIncludeSunFolder;
    QCheckBox* ChIncludeSystemAndHide;
    QSpinBox* SpinCompressRate;
    QCheckBox* ChPassword;
    QLineEdit* EditPassword;
    QLineEdit* EditConfirmPassword;
    QComboBox* CbEncryption;
    QCheckBox* ChComment;
    QLineEdit* Editcomment;
    QProgressBar* ProgressZip;
    QLabel* LabelZipStatus;
    QListWidget* ListZipReport;
};
