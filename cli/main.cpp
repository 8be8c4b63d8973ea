// zamblok-cli: the batch jobs of Zamblok from the command line.
#include <CLI/CLI.hpp>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <map>
#include <unistd.h>

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Options.h"
#include "engine/Wildcard.h"
#include "platform/CodePage.h"
#include "platform/Files.h"

namespace {

using namespace cli;

void AddReadOptions(CLI::App& command, ReadOptions& reading)
{
    command.add_flag("--repair", reading.repair,
                     "Read an archive whose directory is missing (cut short, or not all there) from its local "
                     "headers");
    command
        .add_option("--names-codepage", reading.namesCodePage,
                    "Read names of archives from Windows tools in code page CP (CP850, CP852, CP866, CP1252, "
                    "CP932, CP936, CP949, ...; CP437 by default)")
        ->type_name("CP")
        ->check(CLI::Validator(
            [](const std::string& cp) {
                return platform::KnownCodePage(cp) ? std::string() : "unknown code page " + cp;
            },
            "CP"));
}

// --threads N; what the threads do is said by the text.
void AddThreads(CLI::App& command, int& threads, const std::string& text)
{
    command.add_option("--threads", threads, text + " (default: one per core; 1: all work in one thread)")
        ->check(CLI::Range(1, 64))
        ->type_name("N");
}

// Where a password comes from; never the command line itself, where other
// users could read it.
struct PasswordSource {
    bool ask = false;
    std::string file;

    void AddTo(CLI::App& command, const std::string& askText)
    {
        auto* asked = command.add_flag("--password", ask, askText);
        auto* fromFile = command.add_option("--password-file", file,
                                            "The password is the first line of FILE ('-': standard input)")
                             ->type_name("FILE");
        asked->excludes(fromFile);
    }
    bool Given() const { return ask || !file.empty(); }
    std::string Read(const Session& session, bool confirm) const
    {
        return Given() ? ObtainPassword(session, ask, file, confirm) : std::string();
    }
};

// How zip and add write files.
struct WriteArgs {
    std::vector<std::string> items;
    std::string encryption = "zipcrypto";
    int level = 7;
    int threads = 0;
    bool noPaths = false;
    bool noSubfolders = false;
    bool noHidden = false;
    bool noDirEntries = false;
    std::string comment;
    PasswordSource password;
};

struct ZipArgs : WriteArgs {
    bool single = false;
    int per = 1;
    std::string blocked;
    std::string partNames = "peers";
    std::string dest;
    std::string name;
    int width = 2;
};

struct AddArgs : WriteArgs {
    std::string archive;
    bool update = false;
    bool move = false;
};

CLI::Validator PartSizeCheck()
{
    return CLI::Validator(
        [](const std::string& text) { return ParseBlockSize(text) ? std::string() : "not a part size: " + text; },
        "SIZE");
}

struct ExtractArgs {
    std::vector<std::string> archives;
    std::vector<std::string> only;
    bool ignoreCase = false;
    std::string to;
    bool subfolderPerArchive = false;
    bool noPaths = false;
    std::string overwrite = "never";
    bool allowOutsideLinks = false;
    ReadOptions reading;
    PasswordSource password;
};

// The items and the options that say how their files are written.
void AddWriteOptions(CLI::App& command, WriteArgs& a)
{
    command.add_option("items", a.items, "Files, or folder wildcards such as 'dir/*.txt' (quoted)")
        ->required()
        ->type_name("ITEM");
    command.add_option("--level", a.level, "Compression level, 0 (store) to 9 (default 7)")
        ->check(CLI::Range(0, 9))
        ->type_name("0-9");
    AddThreads(command, a.threads, "Threads that compress; the archive is the same whatever the number");
    command.add_flag("--no-paths", a.noPaths, "Store the files without their folders");
    command.add_flag("--no-subfolders", a.noSubfolders, "Wildcards match in their own folder only");
    command.add_flag("--no-hidden", a.noHidden, "Leave out hidden files");
    command.add_flag("--no-dir-entries", a.noDirEntries,
                     "Store no entries for folders; by default a wildcard that takes a whole folder ('dir/*') "
                     "also stores its folders, empty ones included, as zip -r does");
    command.add_option("--comment", a.comment, "Archive comment")->type_name("TEXT");
    a.password.AddTo(command, "Encrypt the entries; the password is asked on the terminal, twice");
    command
        .add_option("--encryption", a.encryption,
                    "With a password: zipcrypto (the default: every tool opens it, but it is weak) or aes256 "
                    "(strong; 7-Zip, WinZip and most current tools open it, Info-ZIP unzip does not)")
        ->check(CLI::IsMember({"zipcrypto", "aes256"}))
        ->type_name("CIPHER");
}

void AddZip(CLI::App& app, ZipArgs& a)
{
    auto* zip = app.add_subcommand("zip", "Create archives from files and folder wildcards, in one run");
    AddWriteOptions(*zip, a);
    auto* single = zip->add_flag("--single", a.single, "One archive for all items");
    auto* per = zip->add_option("--per", a.per, "One archive for every N items (default 1)")
                    ->check(CLI::Validator(
                        [](const std::string& text) {
                            int n = 0;
                            const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
                            return error == std::errc() && end == text.data() + text.size() && n >= 1
                                       ? std::string()
                                       : "N must be a whole number from 1 to 2147483647";
                        },
                        "N"))
                    ->type_name("N");
    auto* blocked =
        zip->add_option("--blocked", a.blocked,
                        "One archive written as parts of SIZE: 1.2M, 1.44M, 2.88M, 5M, 100M, 250M, 650M, "
                        "or a number with B, K or M (at least 64K)")
            ->check(PartSizeCheck())
            ->type_name("SIZE");
    zip->add_option("--part-names", a.partNames,
                    "How the parts of a blocked x.zip are named: peers (x.z01, x.z02, ..., x.zip, which other "
                    "tools read; the default) or zamblok (x.zip.z01, x.zip.z02, ..., x.zip)")
        ->check(CLI::IsMember({"peers", "zamblok"}))
        ->needs(blocked)
        ->type_name("STYLE");
    single->excludes(per);
    blocked->excludes(single);
    blocked->excludes(per);
    zip->add_option("--dest", a.dest, "Folder for the archives, made when missing (default: the current folder)")
        ->type_name("DIR");
    auto* name = zip->add_option("--name", a.name,
                                 "Name the archives BASE00.zip, BASE01.zip, ... (BASE.zip with --single or --blocked); "
                                 "without it names come from the items")
                     ->type_name("BASE");
    zip->add_option("--width", a.width, "Least digits of the number in --name names (default 2)")
        ->check(CLI::Range(2, 20))
        ->needs(name)
        ->type_name("W");
}

void AddAdd(CLI::App& app, AddArgs& a)
{
    auto* add = app.add_subcommand("add",
                                   "Add files and folder wildcards to an archive, made when missing; an entry of the "
                                   "same stored name is replaced");
    add->add_option("archive", a.archive, "The archive")->required()->type_name("ARCHIVE");
    AddWriteOptions(*add, a);
    add->add_flag("--update", a.update, "Replace an entry only by a file newer than it");
    add->add_flag("--move", a.move,
                  "Delete each file that went in, once the archive has been written (never on a failure; files "
                  "left out, or changed since they were read, stay)");
}

void AddExtract(CLI::App& app, ExtractArgs& a)
{
    auto* extract = app.add_subcommand("extract", "Extract all entries of archives, or the named ones");
    extract->add_option("archives", a.archives, "Archives to extract from")->required()->type_name("ARCHIVE");
    extract->add_option("--only", a.only, "Extract only these entries (stored names, folder included); comes last")
        ->type_name("ENTRY");
    extract->add_flag("--ignore-case", a.ignoreCase,
                      "--only names match stored names without regard to the case of ASCII letters");
    extract->add_option("--to", a.to, "Folder to extract into (default: the current folder)")->type_name("DIR");
    extract->add_flag("--subfolder-per-archive", a.subfolderPerArchive,
                      "Extract each archive into a folder named after it");
    extract->add_flag("--no-paths", a.noPaths, "Put every file straight into the folder, without its stored folders");
    extract
        ->add_option("--overwrite", a.overwrite,
                     "Existing files: prompt (ask on the terminal), always, never (default), "
                     "newer or older (replace when the entry is newer or older)")
        ->check(CLI::IsMember({"prompt", "always", "never", "newer", "older"}))
        ->type_name("MODE");
    AddReadOptions(*extract, a.reading);
    AddThreads(*extract, a.reading.threads, "Threads that decode entries ahead");
    extract->add_flag("--allow-outside-links", a.allowOutsideLinks,
                      "Also make symbolic links whose target is absolute or leads out of the folder");
    a.password.AddTo(*extract, "The password of encrypted entries is asked on the terminal");
}

// How the files of a's items are written. Raises UsageError for an item
// that names no readable file and no wildcard.
ParCompress MakeCompress(const Session& session, const WriteArgs& a)
{
    for (const std::string& item : a.items) {
        std::error_code ec;
        // A name with wildcard characters is the file of that name when one
        // exists, and checked like any file; otherwise the writer expands it.
        if (IsWild(item) && !std::filesystem::is_regular_file(item, ec))
            continue;
        if (std::filesystem::is_directory(item, ec))
            throw UsageError(item + " is a folder; give a wildcard such as '" + FolderPrefix(item) + "*'");
        if (!TZipFile::IsReadableFile(item))
            throw UsageError(item + ": no such file, or it cannot be read");
    }
    ParCompress compress;
    compress.storePaths = !a.noPaths;
    compress.includeSubfolders = !a.noSubfolders;
    compress.level = a.level;
    compress.threads = a.threads;
    compress.comment = Trimmed(a.comment);
    compress.includeSysAndHidden = !a.noHidden;
    compress.dirEntries = !a.noDirEntries;
    compress.password = a.password.Read(session, true);
    if (a.password.Given() && compress.password.empty())
        throw UsageError("the password is empty");
    if (a.encryption == "aes256" && !a.password.Given())
        throw UsageError("--encryption aes256 needs --password or --password-file");
    compress.encryption = a.encryption == "aes256" ? TEncryption::Aes256 : TEncryption::Traditional;
    return compress;
}

ZipRequest MakeZipRequest(const Session& session, const ZipArgs& a)
{
    ZipRequest request;
    request.compress = MakeCompress(session, a);
    request.items = a.items;

    std::string dest = a.dest;
    if (!dest.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dest, ec);
        if (!std::filesystem::is_directory(dest))
            throw std::runtime_error("cannot create the folder " + dest);
    }
    ParZipName& naming = request.naming;
    naming.single = a.single || !a.blocked.empty();  // a blocked run makes one archive
    naming.itemsPerArchive = a.per;
    naming.destination = FolderPrefix(dest);
    naming.autoName = a.name.empty();
    naming.baseName = ArchiveBaseName(a.name);
    naming.numberWidth = a.width;

    ParCompress& compress = request.compress;
    compress.blocked = !a.blocked.empty();
    if (compress.blocked)
        compress.blockSize = *ParseBlockSize(a.blocked);
    compress.peerPartNames = a.partNames == "peers";
    return request;
}

AddRequest MakeAddRequest(const Session& session, const AddArgs& a)
{
    return {a.archive, a.items, MakeCompress(session, a), a.update, a.move};
}

ExtractRequest MakeExtractRequest(const Session& session, const ExtractArgs& a)
{
    ExtractRequest request;
    request.archives = a.archives;
    request.only = a.only;
    request.ignoreCase = a.ignoreCase;
    request.allowOutsideLinks = a.allowOutsideLinks;
    request.reading = a.reading;
    ParUnCompress& options = request.options;
    options.destination = FolderPrefix(a.to);
    options.subfolderPerArchive = a.subfolderPerArchive;
    options.useStoredPaths = !a.noPaths;
    const std::map<std::string, TUZOverwriteMode> modes = {
        {"prompt", TUZOverwriteMode::Prompt}, {"always", TUZOverwriteMode::Always},
        {"never", TUZOverwriteMode::Never},   {"newer", TUZOverwriteMode::ifNewer},
        {"older", TUZOverwriteMode::ifOlder},
    };
    options.overwriteMode = modes.at(a.overwrite);
    options.password = a.password.Read(session, false);
    return request;
}

}  // namespace

int main(int argc, char** argv)
{
    platform::KeepSecretsOutOfCoreDumps();
    // Entry dates in the user's format; nothing else follows the locale.
    std::setlocale(LC_TIME, "");

    CLI::App app{"Zamblok from the command line: creates, lists, extracts, tests ZIP archives, adds files to them "
                 "and deletes their entries, many archives in one run; joins and splits archives in parts.",
                 "zamblok-cli"};
    app.set_version_flag("--version", "zamblok-cli " ZAMBLOK_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    bool quiet = false;
    app.add_flag("-q,--quiet", quiet, "No progress line on standard error");
    app.footer("Exit status: 0 all done, 1 some entries skipped or failed, 2 usage error, "
               "3 the run stopped on an error or Ctrl-C.");

    ZipArgs zipArgs;
    AddZip(app, zipArgs);
    AddArgs addArgs;
    AddAdd(app, addArgs);

    std::vector<std::string> listArchives;
    bool tsv = false;
    auto* list = app.add_subcommand("list", "List the entries of archives: archive, name, date, size in kb, path");
    list->add_option("archives", listArchives, "Archives to list")->required()->type_name("ARCHIVE");
    list->add_flag("--tsv", tsv, "Tab-separated lines without a heading, for scripts");
    bool verbose = false;
    list->add_flag("--verbose", verbose,
                   "Each entry's mode, method, packed and full size, space saved, CRC-32, encryption, time and "
                   "stored name");
    bool json = false;
    list->add_flag("--json", json,
                   "Every field of each entry as a JSON array, for scripts: name (and its stored bytes in hex when "
                   "they are not UTF-8), method, sizes, CRC-32, encryption, times, mode, host system, comment")
        ->excludes("--tsv")
        ->excludes("--verbose");
    ReadOptions listReading;
    AddReadOptions(*list, listReading);

    ExtractArgs extractArgs;
    AddExtract(app, extractArgs);

    std::string deleteArchive;
    std::vector<std::string> deleteEntries;
    bool deletePatterns = false;
    auto* del = app.add_subcommand("delete", "Delete entries from an archive");
    del->add_option("archive", deleteArchive, "The archive")->required()->type_name("ARCHIVE");
    del->add_option("entries", deleteEntries,
                    "Stored names, taken exactly, or else patterns ('*.log' matches names in any folder, "
                    "'logs/*' whole stored names)")
        ->required()
        ->type_name("ENTRY");
    del->add_flag("--pattern", deletePatterns, "Take every ENTRY as a pattern, even one that is a stored name");

    std::vector<std::string> testArchives;
    PasswordSource testPassword;
    auto* test = app.add_subcommand("test", "Decode every entry and check its CRC, without writing any file");
    test->add_option("archives", testArchives, "Archives to test")->required()->type_name("ARCHIVE");
    testPassword.AddTo(*test, "The password of encrypted entries is asked on the terminal");
    ReadOptions testReading;
    AddReadOptions(*test, testReading);
    AddThreads(*test, testReading.threads, "Threads that decode entries ahead");

    std::string joinSet, joinOut;
    auto* join = app.add_subcommand("join", "Write an archive in parts as one plain archive, its entries unchanged");
    join->add_option("set", joinSet,
                     "The last part of the set (x.zip of x.z01, x.z02, ..., x.zip, or of x.zip.z01, ...), or the "
                     "first volume of a volume set (x.zip.001)")
        ->required()
        ->type_name("SET");
    join->add_option("--out", joinOut, "The archive to write; never one that exists")->required()->type_name("FILE");

    std::string splitArchive, splitSize, splitBase;
    auto* split = app.add_subcommand("split", "Write an archive as parts of a size, its entries unchanged");
    split->add_option("archive", splitArchive, "The archive (a set of parts too)")->required()->type_name("ARCHIVE");
    split->add_option("--size", splitSize,
                      "The size of each part: a number with B, K or M (at least 64K), or 1.2M, 1.44M, 2.88M, 5M, "
                      "100M, 250M, 650M")
        ->required()
        ->check(PartSizeCheck())
        ->type_name("SIZE");
    split->add_option("--out", splitBase,
                      "Name the parts BASE.z01, BASE.z02, ..., BASE.zip, as other tools do; none may exist")
        ->required()
        ->type_name("BASE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? ExitDone : ExitUsage;
    }

    Session session(!quiet && IsTerminal(STDERR_FILENO));
    try {
        if (app.got_subcommand("zip"))
            return RunZip(session, MakeZipRequest(session, zipArgs));
        if (app.got_subcommand("list"))
            return RunList(session, listArchives,
                           json      ? ListFormat::Json
                           : verbose ? (tsv ? ListFormat::VerboseTabSeparated : ListFormat::Verbose)
                                     : (tsv ? ListFormat::TabSeparated : ListFormat::Table),
                           listReading);
        if (app.got_subcommand("extract"))
            return RunExtract(session, MakeExtractRequest(session, extractArgs));
        if (app.got_subcommand("add"))
            return RunAdd(session, MakeAddRequest(session, addArgs));
        if (app.got_subcommand("join"))
            return RunJoin(session, joinSet, joinOut);
        if (app.got_subcommand("split"))
            return RunSplit(session, splitArchive, *ParseBlockSize(splitSize), ArchiveBaseName(splitBase));
        if (app.got_subcommand("delete"))
            return RunDelete(session, deleteArchive, deleteEntries, deletePatterns);
        return RunTest(session, testArchives, testPassword.Read(session, false), testReading);
    } catch (const UsageError& e) {
        session.Line().Clear();
        std::fprintf(stderr, "zamblok-cli %s: %s\nRun with --help for more information.\n",
                     app.get_subcommands().front()->get_name().c_str(), Printable(e.what()).c_str());
        return ExitUsage;
    } catch (const std::exception& e) {
        session.Line().Clear();
        std::fprintf(stderr, "zamblok-cli: %s\n", Printable(e.what()).c_str());
        return ExitStopped;
    }
}
