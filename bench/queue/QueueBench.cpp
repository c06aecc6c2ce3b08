// Dropping a tree of files on the main window: its drop handler walks the tree, tests for
// duplicates, appends, and maps at the end of every directory; timed against `find` listing the
// same tree.
//
//   bench_queue [files] [parent directory]     (defaults: 100000, the system's temp directory)
//
// The last line reads: find <ms> ms, intake <ms> ms, ratio <intake/find>.

#include "FormServices.h"
#include "MainUnit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Site-like: per thousand files one folder with 50 pages and ten subfolders of 95 each.
int MakeTree(const QString& root, int files)
{
    int made = 0;
    const auto make = [&](const QString& dir, int count) {
        QDir().mkpath(dir);
        for (int i = 0; i < count && made < files; ++i, ++made) {
            const QByteArray path = QFile::encodeName(dir + QStringLiteral("/page%1.html").arg(i));
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    };
    for (int top = 0; made < files; ++top) {
        const QString dir = root + QStringLiteral("/section%1").arg(top);
        make(dir, 50);
        for (int sub = 0; sub < 10 && made < files; ++sub)
            make(dir + QStringLiteral("/part%1").arg(sub), 95);
    }
    return made;
}

double TimeFind(const QString& root)
{
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    find.start(QStringLiteral("find"), {root});
    find.waitForFinished(-1);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (find.exitStatus() != QProcess::NormalExit || find.exitCode() != 0) {
        std::fprintf(stderr, "find failed\n");
        std::exit(1);
    }
    return ms;
}

struct Intake
{
    double ms;
    int queued;
    QString waiting;
    QString remote;
};

// A shown main window over a program directory of its own gets the drop of root.
Intake TimeIntake(const QString& root, const QString& programDir)
{
    TMainForm form(TStartInfo{programDir + QStringLiteral("/lodrin"), {}},
                   std::make_unique<TDesktopServices>());
    form.findChild<QLineEdit*>(QStringLiteral("edLocalHomeDir"))->setText(root);
    form.findChild<QLineEdit*>(QStringLiteral("edHostHomeDir"))->setText(QStringLiteral("/www"));
    form.show();
    QCoreApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    form.WMDropFiles({root});
    // The window repaints once the drop handler returns.
    QCoreApplication::processEvents();
    const double ms = timer.nsecsElapsed() / 1e6;
    return {ms, form.findChild<QComboBox*>(QStringLiteral("cbUploadFile"))->count(),
            form.findChild<QLabel*>(QStringLiteral("lbWaitNum"))->text(),
            form.findChild<QLineEdit*>(QStringLiteral("edUploadDir"))->text()};
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int files = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 100000;
    QTemporaryDir fixture(argc > 2 ? QString::fromLocal8Bit(argv[2]) +
                                         QStringLiteral("/lodrin-bench-XXXXXX")
                                   : QDir::tempPath() + QStringLiteral("/lodrin-bench-XXXXXX"));
    if (!fixture.isValid()) {
        std::fprintf(stderr, "cannot make the tree's directory\n");
        return 1;
    }
    const QString root = fixture.path() + QStringLiteral("/site");
    const QString programDir = fixture.path() + QStringLiteral("/program");
    QDir().mkpath(programDir);
    const int made = MakeTree(root, files);
    std::printf("tree: %d files below %s\n", made, qPrintable(root));

    TimeFind(root); // both runs start from a warm directory cache
    TimeIntake(root, programDir);
    std::vector<double> findTimes;
    std::vector<double> intakeTimes;
    Intake last{};
    for (int round = 0; round < 5; ++round) {
        findTimes.push_back(TimeFind(root));
        last = TimeIntake(root, programDir);
        intakeTimes.push_back(last.ms);
        std::printf("round %d: find %.1f ms, intake %.1f ms\n", round + 1, findTimes.back(),
                    intakeTimes.back());
    }
    if (last.queued != made || last.waiting != QString::number(made) || last.remote.isEmpty()) {
        std::fprintf(stderr, "queued %d of %d files, count %s, remote directory \"%s\"\n",
                     last.queued, made, qPrintable(last.waiting), qPrintable(last.remote));
        return 1;
    }
    std::printf("queued %d, count %s, remote directory of the head: %s\n", last.queued,
                qPrintable(last.waiting), qPrintable(last.remote));
    const double find = Median(findTimes);
    const double intake = Median(intakeTimes);
    std::printf("find %.1f ms, intake %.1f ms, ratio %.2f\n", find, intake, intake / find);
    return 0;
}
