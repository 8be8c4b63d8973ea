// "Select files by wildcard": a folder chosen in a tree of the file system
// and a wildcard make one item, folder/wildcard, for the items list.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <functional>

class TFormselectbyfilter : public QDialog {
    Q_OBJECT
public:
    // help opens a help page by its context number. No folder is chosen at first.
    TFormselectbyfilter(const QString& settingsPath, std::function<void(int)> help, QWidget* parent);

    // The item to add, as shown in the result field.
    QString Result() const { return EditInputWild->text(); }
    // Chooses folder in the tree, as a click on it would.
    void SelectFolder(const QString& folder);

    void SpeedButton1Click();
    void Button1Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Fills the wildcard box from the stored list ("*.*" when it is empty).
    void LoadWildcardList();
    // The chosen folder followed by the wildcard.
    void UpdateResult();
    QString ChosenFolder() const;

    QString settingsPath_;
    std::function<void(int)> help_;
    QFileSystemModel* folders_;
    QTreeView* ShellTree1;
    QLabel* labFolder;
    QComboBox* ComboBox1;
    QLineEdit* EditInputWild;
};
