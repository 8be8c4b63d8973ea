#include "ui/EngineText.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <vector>

#include "ui/Text.h"

namespace ui {

namespace {

// The messages, "%1" and "%2" standing for the names and numbers inside them.
// A more particular message comes before a more general one it would match.
const char* const Messages[] = {
    // The engine's exceptions.
    QT_TRANSLATE_NOOP("EngineText", "Not a valid zip file!"),
    QT_TRANSLATE_NOOP("EngineText", "Incomplete Zip File"),
    QT_TRANSLATE_NOOP("EngineText", "Premature end of file reached"),
    QT_TRANSLATE_NOOP("EngineText", "User Aborted Operation"),
    QT_TRANSLATE_NOOP("EngineText", "User canceled Zip operation"),
    QT_TRANSLATE_NOOP("EngineText", "User canceled setting zip file name."),
    QT_TRANSLATE_NOOP("EngineText", "User canceled loading new disk."),
    QT_TRANSLATE_NOOP("EngineText", "User canceled Set Desination Directory"),
    QT_TRANSLATE_NOOP("EngineText", "Operation aborted"),
    QT_TRANSLATE_NOOP("EngineText", "File is larger than uncompressed size!"),
    QT_TRANSLATE_NOOP("EngineText", "Not enough room to write archive"),
    QT_TRANSLATE_NOOP("EngineText", "Cant write uncompressed file"),
    QT_TRANSLATE_NOOP("EngineText", "Unable to save Zip Configuration File to disk"),
    QT_TRANSLATE_NOOP("EngineText", "error"),
    QT_TRANSLATE_NOOP("EngineText", "Stream read error"),
    QT_TRANSLATE_NOOP("EngineText", "Stream write error"),
    QT_TRANSLATE_NOOP("EngineText", "Seek error"),
    QT_TRANSLATE_NOOP("EngineText", "Entries overlap each other (a possible zip bomb)"),
    QT_TRANSLATE_NOOP("EngineText", "Not a valid zip file: two entries share one local header"),
    QT_TRANSLATE_NOOP("EngineText", "A multi-part archive cannot be updated: %1"),
    QT_TRANSLATE_NOOP("EngineText", "The file grew past 4 GiB while it was being added: %1"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot open file %1"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create file %1: %2"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create file %1"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create a file in %1: %2"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create %1: a file of that name exists"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create %1: it is a symbolic link to nothing"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot create %1: %2"),
    QT_TRANSLATE_NOOP("EngineText", "Cannot replace %1: %2"),
    QT_TRANSLATE_NOOP("EngineText", "%1: its directory is damaged"),
    QT_TRANSLATE_NOOP("EngineText", "%1: the entry runs into the bytes after it (the archive is not whole)"),
    QT_TRANSLATE_NOOP("EngineText",
                      "The copy written does not hold the archive's entries as its directory lists them"),
    QT_TRANSLATE_NOOP("EngineText", "%1: no local header at offset %2"),
    QT_TRANSLATE_NOOP("EngineText", "%1: the archive ends inside the entry's local header"),
    QT_TRANSLATE_NOOP("EngineText", "%1: the archive ends inside the entry's data"),
    QT_TRANSLATE_NOOP("EngineText", "%1: cannot write %2: %3"),
    // The engine's questions and their captions.
    QT_TRANSLATE_NOOP("EngineText", "Replace existing file %1?"),
    QT_TRANSLATE_NOOP("EngineText", "Please insert disk %1 of the multi-disk set."),
    QT_TRANSLATE_NOOP("EngineText", "Unknown Compression Method"),
    QT_TRANSLATE_NOOP("EngineText", "Zip Error"),
    QT_TRANSLATE_NOOP("EngineText",
                      "The file got shorter while it was being read; the entry holds what was read."),
    // Why an entry failed.
    QT_TRANSLATE_NOOP("EngineText", "the archive ends inside the entry's data"),
    QT_TRANSLATE_NOOP("EngineText", "the data is longer than its recorded size of %1 bytes"),
    QT_TRANSLATE_NOOP("EngineText", "the data is shorter than its recorded size (%1 of %2 bytes)"),
    QT_TRANSLATE_NOOP("EngineText", "the compressed data ends before its stream does"),
    QT_TRANSLATE_NOOP("EngineText", "the compressed data is broken (a distance reaches before the data)"),
    QT_TRANSLATE_NOOP("EngineText", "the compressed data is broken"),
    QT_TRANSLATE_NOOP("EngineText", "the authentication code does not match: the encrypted data was changed"),
    QT_TRANSLATE_NOOP("EngineText", "AES encryption without its extra field"),
    QT_TRANSLATE_NOOP("EngineText", "the AES keys cannot be derived"),
    QT_TRANSLATE_NOOP("EngineText", "the AES cipher cannot be set up"),
    QT_TRANSLATE_NOOP("EngineText", "no random bytes for the AES salt"),
    QT_TRANSLATE_NOOP("EngineText", "the LZMA properties are not as the format has them"),
    QT_TRANSLATE_NOOP("EngineText", "the LZMA data needs a dictionary larger than 256 MiB"),
    QT_TRANSLATE_NOOP("EngineText", "the XZ data needs more than 256 MiB of memory"),
    QT_TRANSLATE_NOOP("EngineText", "out of memory for decompression"),
    QT_TRANSLATE_NOOP("EngineText", "out of memory for compression"),
    QT_TRANSLATE_NOOP("EngineText", "unsupported compression method %1"),
    QT_TRANSLATE_NOOP("EngineText", "a link target longer than %1 bytes"),
    // Why an entry was skipped when extracting.
    QT_TRANSLATE_NOOP("EngineText", "wrong password; skipped"),
    QT_TRANSLATE_NOOP("EngineText", "encrypted and no password given; skipped"),
    QT_TRANSLATE_NOOP("EngineText", "wrong password"),
    QT_TRANSLATE_NOOP("EngineText", "encrypted and no password given"),
    QT_TRANSLATE_NOOP("EngineText", "kept the existing file %1"),
    QT_TRANSLATE_NOOP("EngineText", "cannot create %1; skipped"),
    QT_TRANSLATE_NOOP("EngineText", "the stored name holds a NUL byte; skipped"),
    QT_TRANSLATE_NOOP("EngineText", "a link that leads out of the destination; skipped"),
    QT_TRANSLATE_NOOP("EngineText", "skipped"),
    // Why a file was left out of an archive.
    QT_TRANSLATE_NOOP("EngineText", "an entry of the same name is in the archive already"),
    QT_TRANSLATE_NOOP("EngineText", "cannot be read (%1)"),
    QT_TRANSLATE_NOOP("EngineText", "cannot be read"),
    QT_TRANSLATE_NOOP("EngineText", "changed while it was being added"),
    QT_TRANSLATE_NOOP("EngineText", "left out"),
    QT_TRANSLATE_NOOP("EngineText", "not found"),
    QT_TRANSLATE_NOOP("EngineText", "a folder, not a file"),
    QT_TRANSLATE_NOOP("EngineText", "hidden, and hidden files are left out"),
};

struct Message {
    const char* source;
    QRegularExpression pattern;  // the whole text, a group for each %n
};

const std::vector<Message>& Patterns()
{
    static const std::vector<Message> patterns = [] {
        std::vector<Message> result;
        for (const char* source : Messages) {
            QString pattern = QRegularExpression::escape(QString::fromUtf8(source));
            pattern.replace(QRegularExpression("\\\\?%\\d"), "(.*)");
            result.push_back({source, QRegularExpression("^" + pattern + "$",
                                                         QRegularExpression::DotMatchesEverythingOption)});
        }
        return result;
    }();
    return patterns;
}

QString Translated(const QString& text)
{
    for (const Message& m : Patterns()) {
        const QRegularExpressionMatch match = m.pattern.match(text);
        if (!match.hasMatch())
            continue;
        // The arguments go in as they stand, in one pass: a name is never
        // translated, nor taken for a place of another argument.
        const QString translated = QCoreApplication::translate("EngineText", m.source);
        switch (m.pattern.captureCount()) {
        case 0: return translated;
        case 1: return translated.arg(match.captured(1));
        case 2: return translated.arg(match.captured(1), match.captured(2));
        default: return translated.arg(match.captured(1), match.captured(2), match.captured(3));
        }
    }
    return {};
}

}  // namespace

QString EngineText(const std::string& text)
{
    const QString english = FromUtf8(text);
    QString result = Translated(english);
    if (!result.isNull())
        return result;
    // The extraction names the method after a failure of an entry that is
    // neither stored nor deflated: "... (bzip2)".
    static const QRegularExpression method("^(.*) \\(([A-Za-z0-9-]+)\\)$",
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = method.match(english);
    if (match.hasMatch() && !(result = Translated(match.captured(1))).isNull())
        return result + " (" + match.captured(2) + ")";
    return english;
}

}  // namespace ui
