// The "Multiple UnZIP" page of the main window: the archive list, the entry
// list, and the listing, extraction and deletion runs with their progress.
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>

#include "app/UnitMain.h"
#include "ui/Text.h"
#include "engine/ZipExceptions.h"
#include "platform/Exceptions.h"
#include "platform/Hooks.h"

// ---- The archive list ---------------------------------------------------------------

void TFormMain::AddArchives(const QStringList& files)
{
    for (const QString& file : files) {
        const QString full = QFileInfo(file).absoluteFilePath();
        const bool listed = std::any_of(ZipList.begin(), ZipList.end(), [&](const std::string& name) {
            return ui::FromUtf8(name).compare(full, Qt::CaseInsensitive) == 0;
        });
        if (!listed)
            ZipList.push_back(full.toStdString());
    }
    PageControl1->setCurrentIndex(1);
    RefillZipList();
    AfterAdd();
}

void TFormMain::RefillZipList()
{
    ListBoxZipList->clear();
    for (const std::string& name : ZipList)
        ListBoxZipList->addItem(ui::FromUtf8(name));
}

void TFormMain::AfterAdd()
{
    if (!ZipList.empty())
        ListBoxZipList->setCurrentRow(0);
    if (ChAotoDisplay->isChecked())
        ShowFileDetails();
    else
        HideFileDetails();
    RefreshG2();
}

void TFormMain::btnSelectZIPClick()
{
    const QStringList files = AskArchives();
    if (!files.isEmpty())
        AddArchives(files);
}

void TFormMain::btnDisplayDetailsClick()
{
    ShowFileDetails();
}

void TFormMain::btnRemoveUnZipClick()
{
    if (ZipList.empty())
        return;
    const int row = ListBoxZipList->currentRow();
    if (row < 0 || !ListBoxZipList->currentItem()->isSelected()) {
        Information("Please select a item by clicking");
    } else {
        ZipList.erase(ZipList.begin() + row);
        RefillZipList();
        if (!ZipList.empty())
            ListBoxZipList->setCurrentRow(row < int(ZipList.size()) ? row : 0);
    }
    if (ChAotoDisplay->isChecked())
        ShowFileDetails();
    else
        HideFileDetails();
    RefreshG2();
}

void TFormMain::btnRemoveAllUnZipClick()
{
    ZipList.clear();
    RefillZipList();
    if (ChAotoDisplay->isChecked())
        ShowFileDetails();
    else
        HideFileDetails();
    RefreshG2();
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event)
{
    // Archives dropped from a file manager are added as if chosen; files and
    // folders dropped onto the items list become items.
    const bool archives = watched == ListBoxZipList->viewport();
    if (archives || watched == ListboxZIP->viewport()) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            QStringList paths;
            for (const QUrl& url : drop->mimeData()->urls())
                if (url.isLocalFile() && (!archives || QFileInfo(url.toLocalFile()).isFile()))
                    paths << url.toLocalFile();
            drop->acceptProposedAction();
            if (!paths.isEmpty())
                archives ? AddArchives(paths) : AddItems(paths);
            return true;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (watched == ListboxZIP) {
            if (key->key() == Qt::Key_Delete) {
                btnRemoveZipClick();
                return true;
            }
            if (key->modifiers() & Qt::ControlModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
                MoveItem(key->key() == Qt::Key_Up ? -1 : 1);
                return true;
            }
        }
        if (watched == ListBoxZipList) {
            if (key->key() == Qt::Key_Delete) {
                if (btnRemoveUnZip->isEnabled())
                    btnRemoveUnZipClick();
                return true;
            }
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                btnDisplayDetailsClick();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- The entry list -------------------------------------------------------------------

void TFormMain::ShowFileDetails()
{
    if (listJob_)
        return;  // a listing is under way already; it shows the list
    {
        struct Hourglass {
            Hourglass() { QApplication::setOverrideCursor(Qt::WaitCursor); }
            ~Hourglass() { QApplication::restoreOverrideCursor(); }
        } hourglass;
        listJob_ = std::make_unique<TExtractAndView>();
        listJob_->OnArchive = [this](const ParArchiveProgress& p) {
            if (!unzipJob_ && p.state == ParArchiveProgress::State::Started)
                LabelUnZipStatus->setText(QString("Listing archive %1 of %2: %3")
                                              .arg(p.index + 1)
                                              .arg(p.count)
                                              .arg(ui::FileNameOf(p.archive)));
        };
        try {
            listJob_->ListArchives(FileDetails, ZipList);
            if (!unzipJob_)
                LabelUnZipStatus->clear();
        } catch (const EAbort&) {
            // Cancelled by closing the window.
        } catch (const std::exception& e) {
            if (!unzipJob_)
                LabelUnZipStatus->clear();
            Information(e.what());
        }
        // The list is rebuilt from FileDetails in every case, so that every
        // row has its element.
        model_->Reset();
        listJob_.reset();
    }
    RefreshG3();
    RunEnded();
}

void TFormMain::HideFileDetails()
{
    FileDetails.clear();
    model_->Reset();
    G3->setTitle("Compressed Files To UnZIP: Hidden");
}

void TFormMain::btnSelectallClick()
{
    ListBoxFileDetail->selectAll();
}

void TFormMain::btnUnselectAllClick()
{
    ListBoxFileDetail->clearSelection();
}

ParArrayOfToUnZip TFormMain::CollectSelected() const
{
    ParArrayOfToUnZip groups;
    for (const int row : ListBoxFileDetail->SelectedRows()) {
        if (size_t(row) >= FileDetails.size())
            continue;
        const ParFileDetail& detail = FileDetails[size_t(row)];
        auto group = std::find_if(groups.begin(), groups.end(), [&](const ParToUnZip& g) {
            return ui::FromUtf8(g.archive).compare(ui::FromUtf8(detail.archive), Qt::CaseInsensitive) == 0;
        });
        if (group == groups.end())
            group = groups.insert(groups.end(), ParToUnZip{detail.archive, {}});
        group->entries.push_back(detail.path + detail.fileName);
    }
    return groups;
}

void TFormMain::btnDeleteSelectedFilesClick()
{
    const size_t n = ListBoxFileDetail->SelectedRows().size();
    if (n == 0) {
        Information("Please select compressed files first!");
        return;
    }
    if (Running()) {
        Information("Please wait until the run under way has ended.");
        return;
    }
    const QString question = QString("Do you want to delete the selected %1 compressed files?").arg(n);
    if (platform::MessageBox(question.toStdString(), "Zamblok", platform::mbYesNo | 0x30) != platform::idYes)
        return;
    deleting_ = true;
    try {
        TExtractAndView job;
        job.DeleteSelected(CollectSelected());
        FileDetails.clear();
        model_->Reset();
        deleting_ = false;
        ShowFileDetails();
    } catch (const std::exception& e) {
        deleting_ = false;
        ShowError(e.what());
    }
    RunEnded();
}

// ---- Extraction ---------------------------------------------------------------------

void TFormMain::SetUnZipBusy(bool busy)
{
    if (busy)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    for (QWidget* w : std::initializer_list<QWidget*>{btnExtractAll, btnExtractSelected, btnSelectZIP, btnRemoveUnZip,
                                                      btnRemoveAllUnZip, btnDeleteSelectedFiles})
        w->setEnabled(!busy);
    btnUnZipCancel->setVisible(busy);
}

ParUnCompress TFormMain::ReadUnCompressOptions() const
{
    ParUnCompress options;
    options.destination = ExtractFolder->folder().toStdString();
    if (options.destination.empty() || options.destination.back() != '/')
        options.destination += '/';
    options.subfolderPerArchive = ChCreateSubFolder->isChecked();
    options.password = EditPWD->text().trimmed().toStdString();
    options.useStoredPaths = ChUseOrigPath->isChecked();
    const int mode = overwrite_->checkedId();
    options.overwriteMode = TUZOverwriteMode(mode < 0 ? 0 : mode);
    return options;
}

void TFormMain::btnExtractAllClick()
{
    if (ZipList.empty()) {
        Information("No item for UnZIP, please select ZIP archives first!");
        return;
    }
    RunExtraction(false);
}

void TFormMain::btnExtractSelectedClick()
{
    if (ListBoxFileDetail->SelectedRows().empty()) {
        Information("No selected compressed files in Zip archives for UnZIP!");
        return;
    }
    RunExtraction(true);
}

void TFormMain::btnUnZipCancelClick()
{
    SetUnZipBusy(false);
    if (unzipJob_) {
        tally_.cancelled = true;
        unzipJob_->Cancel();
    }
}

void TFormMain::Report(const QString& line)
{
    ListUnZipReport->addItem(line);
    ListUnZipReport->scrollToBottom();
}

void TFormMain::RunExtraction(bool selected)
{
    // Cancel ends the busy state at once; the run it stopped may still be
    // winding down, and a new one must wait for it.
    if (unzipJob_ || deleting_) {
        LabelUnZipStatus->setText("The previous run is still stopping; try again in a moment.");
        return;
    }
    if (ExtractFolder->folder().isEmpty()) {
        Information("Please enter the folder to extract to.");
        return;
    }
    const ParUnCompress options = ReadUnCompressOptions();
    const ParArrayOfToUnZip groups = selected ? CollectSelected() : ParArrayOfToUnZip();
    const std::vector<std::string> archives = ZipList;

    SetUnZipBusy(true);
    unzipJob_ = std::make_unique<TExtractAndView>();
    tally_ = {};
    ListUnZipReport->clear();
    ProgressUnZip->setValue(0);
    WatchExtraction(*unzipJob_);
    QString ending;
    try {
        if (selected)
            unzipJob_->ExtractSelected(groups, options);
        else
            unzipJob_->ExtractAll(archives, options);
        ProgressUnZip->setValue(ProgressUnZip->maximum());
    } catch (const EUserCanceled& e) {
        ending = " Cancelled.";
        Information(e.what());
    } catch (const std::exception& e) {
        ending = QString(" Stopped: %1").arg(e.what());
        Information(e.what());
    }
    if (ending.isEmpty() && tally_.cancelled)
        ending = " Cancelled.";
    LabelUnZipStatus->setText(QString("Extracted %1 %2, skipped %3, failed %4.%5")
                                  .arg(tally_.extracted)
                                  .arg(tally_.extracted == 1 ? "entry" : "entries")
                                  .arg(tally_.skipped)
                                  .arg(tally_.failed)
                                  .arg(ending));
    unzipJob_.reset();
    if (btnUnZipCancel->isVisible())
        SetUnZipBusy(false);
    RunEnded();
}

void TFormMain::WatchExtraction(TExtractAndView& job)
{
    const auto entryName = [](TZipReader& sender, int index) {
        return ui::FromUtf8(sender.EntryFolder(index) + sender.EntryName(index));
    };
    const auto where = [this](TZipReader& sender) {
        return ui::FileNameOf(sender.ZipName()) + ": ";
    };
    TZipWriter& engine = job.Engine();
    job.OnArchive = [this](const ParArchiveProgress& p) {
        tally_.archive = p.index;
        tally_.archives = p.count;
        if (p.state == ParArchiveProgress::State::Started)
            LabelUnZipStatus->setText(
                QString("Archive %1 of %2: %3").arg(p.index + 1).arg(p.count).arg(ui::FileNameOf(p.archive)));
        if (p.state == ParArchiveProgress::State::Failed)
            Report(ui::FileNameOf(p.archive) + ": " + ui::FromUtf8(p.error));
    };
    engine.OnStartUnZip = [this, entryName](TZipReader& sender, int index, std::string&, bool&) {
        LabelUnZipStatus->setText(QString("Archive %1 of %2: %3 \u2014 %4")
                                      .arg(tally_.archive + 1)
                                      .arg(tally_.archives)
                                      .arg(ui::FileNameOf(sender.ZipName()))
                                      .arg(entryName(sender, index)));
    };
    engine.OnTotalPercentDone = [this](TZipReader&, int percent) {
        const size_t archives = std::max<size_t>(tally_.archives, 1);
        ProgressUnZip->setValue(int((tally_.archive * 1000 + size_t(percent) * 10) / archives));
    };
    engine.OnEndUnZip = [this](TZipReader&, int, const std::string&) { ++tally_.extracted; };
    engine.OnSkippingFile = [this, entryName, where](TZipReader& sender, TSkipReason reason,
                                                      const std::string& fileName, int index, bool&) {
        ++tally_.skipped;
        Report(where(sender) + entryName(sender, index) + ": " +
               ui::FromUtf8(SkipReasonText(reason, fileName, !sender.Password.empty())));
    };
    engine.OnBadCRC = [this, entryName, where](TZipReader& sender, uint32_t computed, uint32_t stored, int index) {
        ++tally_.failed;
        Report(where(sender) + entryName(sender, index) +
               QString(": bad CRC %1 (stored %2); not extracted").arg(computed, 8, 16, QChar('0')).arg(stored, 8, 16, QChar('0')));
    };
    engine.OnEntryError = [this, entryName, where](TZipReader& sender, int index, const std::string& what) {
        ++tally_.failed;
        Report(where(sender) + entryName(sender, index) + ": " + ui::FromUtf8(what) + "; not extracted");
    };
    engine.OnHandleMessage = [](TZipReader&, int id, const std::string& text, const std::string& caption,
                                unsigned flags, int& result) {
        // An unknown method is reported through OnEntryError with its number.
        result = id == TZipReader::MsgUnknownMethod ? platform::idOK : platform::MessageBox(text, caption, flags);
    };
    // One answer may hold for the rest of the run: a user extracting 500
    // files is not asked 500 times.
    engine.OnPromptForOverwrite = [this](TZipReader& sender, bool& overwrite, int index, std::string&) {
        if (tally_.replaceAll || tally_.replaceNone) {
            overwrite = tally_.replaceAll;
            return;
        }
        using B = QMessageBox::StandardButton;
        const int answer = AskOverwrite("Replace existing file " + ui::FromUtf8(sender.EntryName(index)) + "?");
        tally_.replaceAll = answer == B::YesToAll;
        tally_.replaceNone = answer == B::NoToAll;
        overwrite = answer == B::Yes || answer == B::YesToAll;
    };
    engine.OnBadPassword = [this, entryName](TZipReader& sender, int index, std::string& password) {
        const std::optional<QString> answer = AskPassword("The password does not open " + entryName(sender, index) +
                                                           ".\nEnter another password, or Cancel to skip the entry:");
        if (answer && !answer->isEmpty())
            password = answer->toStdString();
    };
}
