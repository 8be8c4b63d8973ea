// A folder edit: a line edit with a browse button that opens the folder
// dialog at the folder typed, and a leading "~" read as the home folder.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>

namespace ui {

// A folder as typed: trimmed, with a leading "~" read as the home folder.
QString ExpandFolder(const QString& typed);

class FolderEdit : public QWidget {
    Q_OBJECT
public:
    // dialogText is the browse dialog's title.
    FolderEdit(const QString& dialogText, QWidget* parent = nullptr);

    QString text() const { return edit_->text(); }
    void setText(const QString& text) { edit_->setText(text); }
    // The folder as typed, expanded (ExpandFolder).
    QString folder() const { return ExpandFolder(text()); }
    QLineEdit* lineEdit() const { return edit_; }
    // The label that names the edit: its access key reaches the edit, and its
    // text (without the key's mark and a closing colon) names the edit and
    // its browse button to assistive technology.
    void SetLabel(QLabel* label);
    QToolButton* browseButton() const { return browse_; }

private:
    void Browse();

    QString dialogText_;
    QLineEdit* edit_;
    QToolButton* browse_;
};

}  // namespace ui
