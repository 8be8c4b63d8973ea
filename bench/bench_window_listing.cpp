// Lists 2,000 small archives (five entries each, 10,000 entries) in the
// window's "Multiple UnZIP" page, from adding them to the filled entry list,
// and with `zamblok-cli list --tsv` on the same archives; prints both times
// (best of three) and their ratio. The window runs on Qt's offscreen platform.
//
// Usage: bench_window_listing [scratch folder]   (default: the temporary folder)

#include <QApplication>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/UnZipPage.h"
#include "app/UnZipPageController.h"
#include "bench/BenchSupport.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string root = (argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path()) / "zamblok-window-listing";
    const std::string folder = root + "/archives";
    if (!fs::exists(folder)) {
        fs::create_directories(root);
        bench::Shell("python3 -c \"import zipfile,os\nos.makedirs('" + folder + ".tmp')\nfor a in range(2000):\n"
                     "  with zipfile.ZipFile('" + folder + ".tmp/a%04d.zip' % a, 'w') as z:\n"
                     "    for e in range(5): z.writestr('d/e%d.txt' % e, 'x' * (e * 700))\"");
        fs::rename(folder + ".tmp", folder);
    }
    QStringList archives;
    for (const auto& entry : fs::directory_iterator(folder))
        archives << QString::fromStdString(entry.path().string());
    archives.sort();

    const std::string cli = fs::canonical("/proc/self/exe").parent_path().parent_path().string() + "/cli/zamblok-cli";
    const double command = bench::BestSeconds([&] { bench::Shell("'" + cli + "' list --tsv '" + folder + "'/*.zip > /dev/null"); });

    UnZipPageController controller;
    UnZipPage page(controller, nullptr);
    page.show();
    size_t rows = 0;
    const double window = bench::BestSeconds([&] {
        controller.SetArchives(archives);
        if (!QTest::qWaitFor([&] { return !controller.Running(); }, 600000))
            std::exit(1);
        rows = controller.Rows().size();
    });
    std::printf("listing 2000 archives, %zu entries\n", rows);
    std::printf("  zamblok-cli list --tsv  %.3f s\n", command);
    std::printf("  window                  %.3f s  (%.2fx)\n", window, window / command);
    return rows == 10000 ? 0 : 1;
}
