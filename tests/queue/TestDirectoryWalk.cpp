#include "QueueTests.h"

#include "DirectoryWalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString Done = QStringLiteral("<done>");

// The walk as one event list: file paths, and Done where a directory's walk ends.
QStringList Walk(const QString& dir)
{
    QStringList events;
    WalkDirectoryTree(
        dir, [&](const QString& file) { events.append(file); }, [&] { events.append(Done); });
    return events;
}

// The depth-first walk built from Qt's own unsorted listing, which is the file system's order.
void Expected(const QString& dir, QStringList& events)
{
    const QFileInfoList entries = QDir(dir).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            Expected(entry.filePath(), events);
        else
            events.append(entry.filePath());
    }
    events.append(Done);
}

bool MakeFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

bool MakeTree(const QString& root, const QStringList& files, const QStringList& dirs = {})
{
    for (const QString& dir : dirs) {
        if (!QDir(root).mkpath(dir))
            return false;
    }
    for (const QString& file : files) {
        if (!QDir(root).mkpath(QFileInfo(file).path()) || !MakeFile(root + "/" + file))
            return false;
    }
    return true;
}

QStringList Files(const QStringList& events)
{
    QStringList files = events;
    files.removeAll(Done);
    return files;
}

} // namespace

class TestDirectoryWalk : public QObject
{
    Q_OBJECT

private slots:
    void depthFirst()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        const QString root = fixture.path();
        QVERIFY(MakeTree(root,
                         {"b.html", "d.html", "sub/c.html", "sub/c2.html", "sub/deeper/e.html",
                          ".hidden", "sub/.dotdir/f", "noext", "x/y/z/w.txt"},
                         {"empty", "sub/empty"}));

        const QStringList events = Walk(root);
        QStringList expected;
        Expected(root, expected);
        QCOMPARE(events, expected);

        // The platform order aside, the files and the ends of the walks are all there.
        QStringList files = Files(events);
        files.sort();
        QStringList want{"/.hidden",       "/b.html",     "/d.html",      "/noext",
                         "/sub/.dotdir/f", "/sub/c.html", "/sub/c2.html", "/sub/deeper/e.html",
                         "/x/y/z/w.txt"};
        for (QString& f : want)
            f.prepend(root);
        QCOMPARE(files, want);
        // root, empty, sub, sub/empty, sub/deeper, sub/.dotdir, x, x/y, x/y/z
        QCOMPARE(events.count(Done), 9);
        QCOMPARE(events.last(), Done);
    }

    // A subdirectory's files come before the rest of its directory: b.html, sub/c.html, d.html.
    void subdirectoryBeforeRest()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        const QString root = fixture.path();
        QVERIFY(MakeTree(root, {"b.html", "sub/c.html", "d.html"}));
        const QStringList events = Walk(root);
        const QStringList order =
            QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted);
        QStringList expected;
        for (const QString& name : order) {
            if (name == "sub")
                expected << root + "/sub/c.html" << Done;
            else
                expected << root + "/" + name;
        }
        expected << Done;
        QCOMPARE(events, expected);
    }

    void pathJoin_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("no trailing slash") << "";
        QTest::newRow("trailing slash") << "/";
    }

    void pathJoin()
    {
        QFETCH(QString, suffix);
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        QVERIFY(MakeTree(fixture.path(), {QString::fromUtf8("日記/ソ a.html")}));
        QCOMPARE(Files(Walk(fixture.path() + suffix)),
                 QStringList{fixture.path() + QString::fromUtf8("/日記/ソ a.html")});
    }

    void emptyAndMissing()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        QCOMPARE(Walk(fixture.path()), QStringList{Done});
        QCOMPARE(Walk(fixture.path() + "/missing"), QStringList{Done});
        QCOMPARE(Walk(QString()), QStringList{Done});
        // A file is no directory to walk.
        QVERIFY(MakeFile(fixture.path() + "/a.html"));
        QCOMPARE(Walk(fixture.path() + "/a.html"), QStringList{Done});
    }

    void symbolicLinks()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        const QString root = fixture.path();
        QVERIFY(MakeTree(root, {"a.html", "sub/b.html", "sub/deep/c.html"}));
        QVERIFY(QFile::link(root, root + "/sub/deep/up"));       // back to the top
        QVERIFY(QFile::link(root + "/sub", root + "/sub/self")); // back to its own directory
        QVERIFY(QFile::link(root + "/a.html", root + "/sub/alias.html"));
        QVERIFY(QFile::link(root + "/nowhere", root + "/dangling"));

        const QStringList events = Walk(root);
        QStringList files = Files(events);
        files.sort();
        QStringList want{"/a.html", "/dangling", "/sub/alias.html", "/sub/b.html",
                         "/sub/deep/c.html"};
        for (QString& f : want)
            f.prepend(root);
        QCOMPARE(files, want);
        // root, sub, sub/deep, and the two links that lead back, each ended at once.
        QCOMPARE(events.count(Done), 5);
    }

    void linkedDirectoryIsWalked()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        const QString root = fixture.path();
        QVERIFY(MakeTree(root, {"shared/img.png", "site/index.html"}));
        QVERIFY(QFile::link(root + "/shared", root + "/site/img"));
        QStringList files = Files(Walk(root + "/site"));
        files.sort();
        QCOMPARE(files, (QStringList{root + "/site/img/img.png", root + "/site/index.html"}));
    }

    // root reads every directory, so the walk runs as nobody in a child process there.
    void unreadableSubdirectory()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        const QString root = fixture.path();
        QVERIFY(MakeTree(root, {"a.html", "locked/secret.html", "locked/in/deep.html", "z.html"}));
        QVERIFY(QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                QFileDevice::ExeOther));
        QVERIFY(chmod(QFile::encodeName(root + "/locked").constData(), 0) == 0);

        QStringList events;
        if (geteuid() != 0) {
            events = Walk(root);
        } else {
            int fds[2];
            QVERIFY(pipe(fds) == 0);
            const pid_t child = fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                close(fds[0]);
                const uid_t nobody = 65534;
                if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                    setresuid(nobody, nobody, nobody) != 0)
                    _exit(77);
                if (access(QFile::encodeName(root).constData(), R_OK | X_OK) != 0)
                    _exit(78);
                const QByteArray out = Walk(root).join('\n').toUtf8();
                _exit(write(fds[1], out.constData(), out.size()) == out.size() ? 0 : 1);
            }
            close(fds[1]);
            QByteArray out;
            char buffer[4096];
            for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
                out.append(buffer, n);
            close(fds[0]);
            int status = 0;
            QVERIFY(waitpid(child, &status, 0) == child);
            QVERIFY(WIFEXITED(status));
            if (WEXITSTATUS(status) == 77)
                QSKIP("cannot drop privileges to run the walk as another user");
            if (WEXITSTATUS(status) == 78)
                QSKIP("the temporary directory is closed to other users");
            QCOMPARE(WEXITSTATUS(status), 0);
            events = QString::fromUtf8(out).split('\n');
        }
        chmod(QFile::encodeName(root + "/locked").constData(), 0700);

        QStringList files = Files(events);
        files.sort();
        QCOMPARE(files, (QStringList{root + "/a.html", root + "/z.html"}));
        QCOMPARE(events.count(Done), 2); // the top, and the locked directory that added nothing
    }
};

LODRIN_QUEUE_TEST(TestDirectoryWalk)
#include "TestDirectoryWalk.moc"
