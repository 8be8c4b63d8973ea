// "Edit Wildcard": edits the stored list of wildcards offered by "Select
// files by wildcard". OK saves the list; Cancel saves nothing.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <functional>

class TFormWildcard : public QDialog {
    Q_OBJECT
public:
    // help opens a help page by its context number.
    TFormWildcard(const QString& settingsPath, std::function<void(int)> help, QWidget* parent);

    void SpNewClick();
    void Button4Click();
    void SpeedButton1Click();
    void SpeedButton3Click();
    void SpeedButton2Click();
    void btnOkClick();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString settingsPath_;
    std::function<void(int)> help_;
    QListWidget* ListBox1;
    QLineEdit* Edit1;
};
