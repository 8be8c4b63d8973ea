// How the window fares during long runs: for each kind of run (extracting
// 200 MB, compressing 200 MB, gathering over 50,000 files none of which
// matches, deleting every other entry of an archive of 100,000) its time, the
// longest wait of the event loop between two ticks of a 10 ms timer while
// it works, and the time from a Cancel given 50 ms after its start to its
// end; worst of three runs.
// The pages run on Qt's offscreen platform.
//
// Usage: bench_window_runs [scratch folder]   (default: the temporary folder)

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "app/UnZipPage.h"
#include "app/UnZipPageController.h"
#include "app/ZipPage.h"
#include "app/ZipPageController.h"
#include "bench/BenchSupport.h"
#include "platform/Hooks.h"

namespace fs = std::filesystem;

namespace {

// Makes path with the Python code that writes it to the file name in `out`, unless it is there.
void Make(const std::string& path, const std::string& python)
{
    if (fs::exists(path))
        return;
    bench::Shell("python3 -c \"out = '" + path + ".tmp'\n" + python + "\"");
    fs::rename(path + ".tmp", path);
}

void WaitFor(const std::function<bool()>& done)
{
    if (!QTest::qWaitFor(done, 600000)) {
        std::fprintf(stderr, "a run did not end\n");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string root = (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) / "zamblok-window-runs";
    fs::create_directories(root);
    const std::string big = root + "/big.bin", bigZip = root + "/big.zip", tree = root + "/tree",
                      wide = root + "/wide.zip";
    Make(big, "import os\nwith open(out, 'wb') as f:\n  for i in range(200): f.write(os.urandom(1 << 20))");
    if (!fs::exists(bigZip))
        bench::Shell("cd '" + root + "' && zip -q -0 big.zip big.bin");
    Make(tree, "import os\nfor d in range(50):\n  os.makedirs(out + '/d%d' % d)\n"
               "  for f in range(1000): open(out + '/d%d/f%d.txt' % (d, f), 'w').close()");
    Make(wide, "import zipfile\nwith zipfile.ZipFile(out, 'w') as z:\n"
               "  for e in range(100000): z.writestr('e%d' % e, '')");
    // The deletion works on a copy, so that each run starts from the same archive.
    const std::string wideCopy = root + "/wide-copy.zip";
    platform::InstalledHooks().MessageBox = [](const std::string&, const std::string&, unsigned) {
        return platform::idYes;
    };

    ZipPageController zip;
    UnZipPageController unzip;
    ZipPage zipPage(zip, [](int) {}, nullptr);
    UnZipPage unzipPage(unzip, nullptr);
    zipPage.show();
    unzipPage.show();
    unzip.options.extractFolder = QString::fromStdString(root + "/out");
    const auto zipItems = [&](const std::string& item) {
        zip.RemoveAll();
        zip.AddItems({QString::fromStdString(item)});
        ZipOptions o = zip.Options();
        o.destination = QString::fromStdString(root + "/made");
        o.storePaths = false;
        zip.SetOptions(o);
    };

    struct Run {
        const char* what;
        std::function<void()> start;
        std::function<void()> cancel;
        std::function<bool()> ended;
    };
    const auto zipEnded = [&] { return !zip.Running(); };
    const auto unzipEnded = [&] { return !unzip.Busy(); };
    const Run runs[] = {
        {"extract 200 MB", [&] {
             unzip.SetArchives({QString::fromStdString(bigZip)});
             WaitFor([&] { return !unzip.Running(); });
             unzip.ExtractAll();
         }, [&] { unzip.Cancel(); }, unzipEnded},
        {"compress 200 MB", [&] {
             zipItems(big);
             zip.Create();
         }, [&] { zip.Cancel(); }, zipEnded},
        {"gather 50,000 files", [&] {
             zipItems(tree + "/*.none");
             zip.Create();
         }, [&] { zip.Cancel(); }, zipEnded},
        {"delete 50,000 of 100,000", [&] {
             fs::copy_file(wide, wideCopy, fs::copy_options::overwrite_existing);
             unzip.SetArchives({QString::fromStdString(wideCopy)});
             WaitFor([&] { return !unzip.Running(); });
             // Every other entry: the other half is copied to the new archive.
             std::vector<int> rows;
             for (size_t r = 0; r < unzip.Rows().size(); r += 2)
                 rows.push_back(int(r));
             unzip.DeleteSelected(rows);
         }, [&] { unzip.Cancel(); }, unzipEnded},
    };
    std::printf("%-24s %10s %16s %18s\n", "run", "run ms", "longest wait ms", "cancel to end ms");
    for (const Run& run : runs) {
        qint64 runTime = 0, longestGap = 0, cancelToEnd = 0;
        for (int i = 0; i < 3; ++i) {
            // Once to its end, the event loop timed by a 10 ms timer...
            fs::remove_all(root + "/out");
            fs::remove_all(root + "/made");
            QElapsedTimer sinceTick, clock;
            QTimer ticker;
            QObject::connect(&ticker, &QTimer::timeout,
                             [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
            clock.start();
            run.start();
            sinceTick.start();
            ticker.start(10);
            WaitFor(run.ended);
            ticker.stop();
            runTime = std::max(runTime, clock.elapsed());
            WaitFor([&] { return !zip.Running() && !unzip.Running(); });
            // ...and once cancelled 50 ms after its start.
            fs::remove_all(root + "/out");
            fs::remove_all(root + "/made");
            run.start();
            QTest::qWait(50);
            if (run.ended()) {
                std::fprintf(stderr, "%s ended within 50 ms: nothing to cancel\n", run.what);
                return 1;
            }
            run.cancel();
            clock.restart();
            WaitFor(run.ended);
            cancelToEnd = std::max(cancelToEnd, clock.elapsed());
            WaitFor([&] { return !zip.Running() && !unzip.Running(); });
        }
        std::printf("%-24s %10lld %16lld %18lld\n", run.what, static_cast<long long>(runTime),
                    static_cast<long long>(longestGap), static_cast<long long>(cancelToEnd));
    }
    fs::remove_all(root + "/out");
    fs::remove_all(root + "/made");
    fs::remove(wideCopy);
    return 0;
}
