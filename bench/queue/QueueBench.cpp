// Dropping a tree of files on the window: the walk, the duplicate test and the appends, and the
// mapping at the end of every directory, timed against `find` listing the same tree.
//
//   bench_queue [files] [parent directory]     (defaults: 100000, the system's temp directory)
//
// The last line reads: find <ms> ms, intake <ms> ms, ratio <intake/find>.

#include "DirectoryWalk.h"
#include "RemoteDirectory.h"
#include "UploadQueue.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QVBoxLayout>

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
    QString remote;
};

// What the window does for a drop of root, with the controls the mapping reads and writes.
Intake TimeIntake(const QString& root)
{
    QWidget window;
    auto* cbUploadFile = new QComboBox(&window);
    auto* edLocalHomeDir = new QLineEdit(root, &window);
    auto* edHostHomeDir = new QLineEdit(QStringLiteral("/public_html"), &window);
    auto* edUploadDir = new QLineEdit(&window);
    auto* lbWaitNum = new QLabel(&window);
    auto* layout = new QVBoxLayout(&window);
    for (QWidget* w : std::initializer_list<QWidget*>{cbUploadFile, edLocalHomeDir, edHostHomeDir,
                                                      edUploadDir, lbWaitNum})
        layout->addWidget(w);
    TUploadQueue queue(cbUploadFile, PathStyle::Posix);
    // A drop lands on a shown window.
    window.show();
    QCoreApplication::processEvents();

    const auto mapping = [&] {
        lbWaitNum->setText(QString::number(queue.Count()));
        if (queue.Count() > 0 && queue.SelectedIndex() < 0)
            queue.Select(0);
        edUploadDir->setText(MapRemoteDirectory(PathStyle::Posix, cbUploadFile->currentText(),
                                                edLocalHomeDir->text(), edHostHomeDir->text()));
    };

    QElapsedTimer timer;
    timer.start();
    {
        TUploadQueue::Batch batch(queue);
        WalkDirectoryTree(
            root,
            [&](const QString& file) {
                if (!queue.Contains(file))
                    queue.Append(file);
            },
            mapping);
    }
    mapping();
    // The window repaints once the drop handler returns.
    QCoreApplication::processEvents();
    return {timer.nsecsElapsed() / 1e6, cbUploadFile->count(), edUploadDir->text()};
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
    const int made = MakeTree(root, files);
    std::printf("tree: %d files below %s\n", made, qPrintable(root));

    TimeFind(root); // both runs start from a warm directory cache
    TimeIntake(root);
    std::vector<double> findTimes;
    std::vector<double> intakeTimes;
    Intake last{};
    for (int round = 0; round < 5; ++round) {
        findTimes.push_back(TimeFind(root));
        last = TimeIntake(root);
        intakeTimes.push_back(last.ms);
        std::printf("round %d: find %.1f ms, intake %.1f ms\n", round + 1, findTimes.back(),
                    intakeTimes.back());
    }
    if (last.queued != made) {
        std::fprintf(stderr, "queued %d of %d files\n", last.queued, made);
        return 1;
    }
    std::printf("queued %d, remote directory of the head: %s\n", last.queued,
                qPrintable(last.remote));
    const double find = Median(findTimes);
    const double intake = Median(intakeTimes);
    std::printf("find %.1f ms, intake %.1f ms, ratio %.2f\n", find, intake, intake / find);
    return 0;
}
