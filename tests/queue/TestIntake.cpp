#include "QueueTests.h"

#include "IntakeFixture.h"

#include <QScopeGuard>
#include <QTest>

namespace {

const QString Head = QStringLiteral("<head>"); // the expected remote directory is the head's

// The depth-first order of a folder's files as the file system lists them, relative paths.
void ListingOrder(const QString& site, const QString& dir, QStringList& files)
{
    const QFileInfoList entries = QDir(dir).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            ListingOrder(site, entry.filePath(), files);
        else
            files << QStringLiteral("@") + entry.filePath().mid(site.size());
    }
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

class TestIntake : public QObject
{
    Q_OBJECT

private slots:
    // Arguments are normalised against the working directory; only files not yet queued go in.
    void commandLine_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("queued");

        const QStringList ab{"@/a.html", "@/b.html"};
        QTest::newRow("first of three missing")
            << ab << QStringList{"@/missing.html", "@/a.html", "@/b.html"} << ab;
        QTest::newRow("folder ignored")
            << QStringList{"@/sub/c.html"} << QStringList{"@/sub", "@/sub/", "@/sub/c.html"}
            << QStringList{"@/sub/c.html"};
        QTest::newRow("same file, several spellings")
            << ab << QStringList{"@/a.html", "@/./a.html", "a.html", "@//a.html", "sub/../a.html"}
            << QStringList{"@/a.html"};
        QTest::newRow("relative against the working directory")
            << QStringList{"@/sub/c.html", "@/a.html"} << QStringList{"sub/c.html", "./a.html"}
            << QStringList{"@/sub/c.html", "@/a.html"};
        QTest::newRow("file URL") << ab << QStringList{"file://@/b.html"}
                                  << QStringList{"@/b.html"};
        QTest::newRow("letter case names another file")
            << QStringList{"@/a.html", "@/A.HTML"} << QStringList{"@/a.html", "@/A.HTML", "a.html"}
            << QStringList{"@/a.html", "@/A.HTML"};
        QTest::newRow("nothing usable")
            << ab << QStringList{"@/missing.html", "@", "", "http://example.invalid/a.html"}
            << QStringList{};
    }

    void commandLine()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, queued);

        QTemporaryDir siteDir;
        QVERIFY(siteDir.isValid());
        const QString site = siteDir.path();
        const auto abs = [&](QString p) { return p.replace(QLatin1Char('@'), site); };
        for (const QString& f : files) {
            QVERIFY(QDir().mkpath(QFileInfo(abs(f)).path()));
            QFile file(abs(f));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QStringList args;
        for (const QString& a : arguments)
            args << abs(a);

        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(site));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        TFormFixture fixture(args);
        auto* box = fixture.Control<QComboBox>("cbUploadFile");

        QStringList items = fixture.Form->UploadQueue().Items();
        for (QString& item : items)
            item.replace(site, QStringLiteral("@"));
        QCOMPARE(items, queued);
        QCOMPARE(box->currentIndex(), queued.isEmpty() ? -1 : 0);
        QCOMPARE(box->currentText(), queued.isEmpty() ? QString() : abs(queued.first()));
        QCOMPARE(fixture.Control<QLabel>("lbWaitNum")->text(), QString::number(queued.size()));
    }

    // Every hand-off is answered 1; only a new existing file is queued, and only then mapped.
    void handOff_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QStringList>("queued");

        const QStringList a{"@/a.html"};
        QTest::newRow("new file") << a << QByteArray("@/sub/b.html")
                                  << QStringList{"@/a.html", "@/sub/b.html"};
        QTest::newRow("first file")
            << QStringList{} << QByteArray("@/sub/b.html") << QStringList{"@/sub/b.html"};
        QTest::newRow("already queued") << a << QByteArray("@/a.html") << a;
        QTest::newRow("folder") << a << QByteArray("@/sub") << a;
        QTest::newRow("missing") << a << QByteArray("@/missing.html") << a;
        QTest::newRow("empty") << a << QByteArray() << a;
        QTest::newRow("text ends at the NUL") << a << QByteArray("@/sub/b.html\0@/a.html", 21)
                                              << QStringList{"@/a.html", "@/sub/b.html"};
        QTest::newRow("not normalised")
            << a << QByteArray("@/sub/../a.html") << QStringList{"@/a.html", "@/sub/../a.html"};
        QTest::newRow("letter case names another file")
            << a << QByteArray("@/A.HTML") << QStringList{"@/a.html", "@/A.HTML"};
        // Taken against this process's working directory it would name another file.
        QTest::newRow("relative text") << a << QByteArray("a.html") << a;
    }

    void handOff()
    {
        QFETCH(QStringList, before);
        QFETCH(QByteArray, sent);
        QFETCH(QStringList, queued);

        TIntakeFixture f;
        QVERIFY(f.Make({"@/a.html", "@/A.HTML", "@/sub/b.html"}));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.Site));
        const auto restore = qScopeGuard([&] { QDir::setCurrent(previous); });
        f.SetTops(f.Site);
        f.Queue(before);
        f.MarkMappingOutputs();

        QCOMPARE(f.HandOver(sent.replace('@', QFile::encodeName(f.Site))), qintptr(1));
        QCOMPARE(f.Items(), queued);
        if (queued == before) {
            QCOMPARE(f.UploadDir->text(), QStringLiteral("<typed>"));
            QCOMPARE(f.WaitNum->text(), QStringLiteral("<stale>"));
        } else {
            QCOMPARE(f.UploadFile->currentIndex(), 0);
            QCOMPARE(f.UploadDir->text(), f.RemoteOf(queued.first()));
            QCOMPARE(f.WaitNum->text(), QString::number(queued.size()));
        }
    }

    void handOffRestoresMinimisedWindow()
    {
        TIntakeFixture f;
        f.Form->show();
        f.Form->showMinimized();
        QVERIFY(f.Form->isMinimized());
        QCOMPARE(f.HandOver(QFile::encodeName(f.Site + "/missing.html")), qintptr(1));
        QVERIFY(!f.Form->isMinimized());
        QVERIFY(f.Form->isVisible());
    }

    // Folders are walked, files queued when new, and the count and mapping follow every drop.
    void drop_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("queued"); // in any order

        const QStringList tree{"@/site/a.html", "@/site/sub/b.html", "@/site/sub/deeper/c.txt"};
        QTest::newRow("folder") << QStringList{} << QStringList{"@/site"} << tree;
        QTest::newRow("folder with trailing slash")
            << QStringList{} << QStringList{"@/site/"} << tree;
        QTest::newRow("hidden files")
            << QStringList{} << QStringList{"@/hidden"}
            << QStringList{"@/hidden/.htaccess", "@/hidden/.dot/x.html", "@/hidden/noext"};
        QTest::newRow("queued files skipped")
            << QStringList{"@/site/sub/b.html", "@/other.html"} << QStringList{"@/site"}
            << QStringList{"@/site/sub/b.html", "@/other.html", "@/site/a.html",
                           "@/site/sub/deeper/c.txt"};
        QTest::newRow("file and its folder")
            << QStringList{} << QStringList{"@/site/a.html", "@/site", "@/site/a.html"} << tree;
        QTest::newRow("same file twice")
            << QStringList{} << QStringList{"@/other.html", "@/other.html"}
            << QStringList{"@/other.html"};
        QTest::newRow("letter case names another file")
            << QStringList{"@/other.html"} << QStringList{"@/OTHER.html", "@/other.html"}
            << QStringList{"@/other.html", "@/OTHER.html"};
        QTest::newRow("missing path")
            << QStringList{} << QStringList{"@/missing.html"} << QStringList{};
        QTest::newRow("empty folder, empty queue")
            << QStringList{} << QStringList{"@/empty"} << QStringList{};
        QTest::newRow("empty folder, one queued")
            << QStringList{"@/site/sub/b.html"} << QStringList{"@/empty/"}
            << QStringList{"@/site/sub/b.html"};
    }

    void drop()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, queued);

        TIntakeFixture f;
        QVERIFY(f.Make({"@/site/a.html", "@/site/sub/b.html", "@/site/sub/deeper/c.txt",
                        "@/hidden/.htaccess", "@/hidden/.dot/x.html", "@/hidden/noext",
                        "@/other.html", "@/OTHER.html", "@/empty/"}));
        f.SetTops(f.Site);
        f.Queue(before);
        f.MarkMappingOutputs();

        QVERIFY(f.Drop(dropped));
        const QStringList items = f.Items();
        QCOMPARE(Sorted(items), Sorted(queued));
        QCOMPARE(items.mid(0, before.size()), before); // appended behind what was queued
        QCOMPARE(f.WaitNum->text(), QString::number(queued.size()));
        QCOMPARE(f.UploadFile->currentIndex(), queued.isEmpty() ? -1 : 0);
        QCOMPARE(f.UploadDir->text(), queued.isEmpty() ? QString() : f.RemoteOf(items.first()));
    }

    // A folder's files come in the file system's order, each subfolder's tree in its place,
    // and the dropped names in the order of the drop.
    void dropOrder()
    {
        TIntakeFixture f;
        QVERIFY(f.Make({"@/site/b.html", "@/site/sub/c.html", "@/site/d.html",
                        "@/site/sub/more/e.html", "@/first.html", "@/last.html"}));
        QVERIFY(f.Drop({"@/first.html", "@/site", "@/last.html"}));
        QStringList expected{"@/first.html"};
        ListingOrder(f.Site, f.Site + "/site", expected);
        expected << "@/last.html";
        QCOMPARE(f.Items(), expected);
        QCOMPARE(f.UploadFile->currentText(), f.Abs("@/first.html"));
    }

    // The walk itself leaves the count and the mapping right, nested walks included.
    void directoryTreeMapsAtItsEnd()
    {
        TIntakeFixture f;
        QVERIFY(f.Make({"@/site/sub/a.html", "@/site/sub/b.html"}));
        f.SetTops(f.Site);
        f.MarkMappingOutputs();
        f.Form->AddDirectoryTree(f.Site + "/site/");
        QCOMPARE(f.WaitNum->text(), QStringLiteral("2"));
        QCOMPARE(f.UploadFile->currentIndex(), 0);
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html/site/sub"));
    }

    void dropFolderWithLinkLoops()
    {
        TIntakeFixture f;
        QVERIFY(f.Make({"@/site/a.html", "@/site/sub/b.html", "@/site/sub/deep/c.html"}));
        QVERIFY(QFile::link(f.Site + "/site", f.Site + "/site/sub/deep/up"));
        QVERIFY(QFile::link(f.Site + "/site/sub", f.Site + "/site/sub/self"));
        QVERIFY(QFile::link("..", f.Site + "/site/sub/parent"));
        f.SetTops(f.Site + "/site");

        QVERIFY(f.Drop({"@/site"}));
        QCOMPARE(Sorted(f.Items()),
                 (QStringList{"@/site/a.html", "@/site/sub/b.html", "@/site/sub/deep/c.html"}));
        QCOMPARE(f.WaitNum->text(), QStringLiteral("3"));
        // The same tree again, and a file of it: nothing new.
        QVERIFY(f.Drop({"@/site", "@/site/sub/b.html"}));
        QCOMPARE(f.Items().size(), 3);
    }

    // The dialog opens on the current file when it exists, else in the local top when that is a
    // folder, else where the last use left it.
    void dialogStart_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("localTop");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("initialDir");

        const QString prevFile = "/earlier/x.html";
        const QString prevDir = "/earlier";
        QTest::newRow("current file") << "@/a.html"
                                      << "@"
                                      << "@/a.html" << prevDir;
        QTest::newRow("missing current file, top folder") << "@/missing.html"
                                                          << "@" << prevFile << "@";
        QTest::newRow("current is a folder") << "@/sub"
                                             << "@/sub" << prevFile << "@/sub";
        QTest::newRow("no current file") << ""
                                         << "@" << prevFile << "@";
        QTest::newRow("neither") << "@/missing.html"
                                 << "@/nothing" << prevFile << prevDir;
        QTest::newRow("top is a file") << ""
                                       << "@/a.html" << prevFile << prevDir;
    }

    void dialogStart()
    {
        QFETCH(QString, current);
        QFETCH(QString, localTop);
        QFETCH(QString, fileName);
        QFETCH(QString, initialDir);

        TIntakeFixture f;
        QVERIFY(f.Make({"@/a.html", "@/sub/"}));
        f.SetTops(f.Abs(localTop));
        f.UploadFile->setEditText(f.Abs(current));
        f.Form->OpenDialog1.FileName = "/earlier/x.html";
        f.Form->OpenDialog1.InitialDir = "/earlier";
        f.MarkMappingOutputs();

        f.Control<QPushButton>("refUpLoadFileBtn")->click();
        QCOMPARE(f.Services->OpenDialogCalls.size(), std::size_t(1));
        const TOpenDialog& shown = f.Services->OpenDialogCalls.back();
        QCOMPARE(shown.FileName, f.Abs(fileName));
        QCOMPARE(shown.InitialDir, f.Abs(initialDir));
        QVERIFY(shown.Options & TOpenDialog::ofAllowMultiSelect);
        // Cancelled: nothing queued, no mapping.
        QCOMPARE(f.UploadDir->text(), QStringLiteral("<typed>"));
        QCOMPARE(f.WaitNum->text(), QStringLiteral("<stale>"));
        QCOMPARE(f.Form->UploadQueue().Count(), 0);
    }

    // The dialog's files are queued as chosen, a file already queued a second time.
    void dialogConfirmed()
    {
        TIntakeFixture f;
        QVERIFY(f.Make({"@/a.html", "@/sub/b.html"}));
        f.SetTops(f.Site);
        f.Queue({"@/a.html"});
        f.MarkMappingOutputs();
        f.Services->OpenDialogResult = f.Abs(QStringList{"@/sub/b.html", "@/a.html"});

        f.Control<QPushButton>("refUpLoadFileBtn")->click();
        QCOMPARE(f.Items(), (QStringList{"@/a.html", "@/sub/b.html", "@/a.html"}));
        QCOMPARE(f.WaitNum->text(), QStringLiteral("3"));
        QCOMPARE(f.UploadFile->currentIndex(), 0);
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html"));

        // Into an empty queue: the first chosen file becomes the head and is mapped.
        TIntakeFixture g;
        QVERIFY(g.Make({"@/sub/b.html"}));
        g.SetTops(g.Site);
        g.Services->OpenDialogResult = g.Abs(QStringList{"@/sub/b.html"});
        g.Control<QPushButton>("refUpLoadFileBtn")->click();
        QCOMPARE(g.UploadFile->currentText(), g.Abs("@/sub/b.html"));
        QCOMPARE(g.UploadDir->text(), QStringLiteral("/public_html/sub"));
    }

    void remove_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("after");

        const QStringList four{"@/a.html", "@/sub/b.html", "@/c.html", "@/d.html"};
        QTest::newRow("head") << four << 0 << QString()
                              << QStringList{"@/sub/b.html", "@/c.html", "@/d.html"};
        QTest::newRow("item 2") << four << 2 << QString()
                                << QStringList{"@/a.html", "@/sub/b.html", "@/d.html"};
        QTest::newRow("last of four")
            << four << 3 << QString() << QStringList{"@/a.html", "@/sub/b.html", "@/c.html"};
        QTest::newRow("only item") << QStringList{"@/a.html"} << 0 << QString() << QStringList{};
        QTest::newRow("nothing selected, typed path")
            << QStringList{} << -1 << "@/typed.html" << QStringList{};
    }

    void remove()
    {
        QFETCH(QStringList, before);
        QFETCH(int, selected);
        QFETCH(QString, typed);
        QFETCH(QStringList, after);

        TIntakeFixture f;
        f.SetTops(f.Site);
        f.Queue(before);
        f.Form->UploadQueue().Select(selected);
        if (!typed.isEmpty())
            f.UploadFile->setEditText(f.Abs(typed));
        f.MarkMappingOutputs();

        f.Control<QPushButton>("ClearBtn")->click();
        QCOMPARE(f.Items(), after);
        QCOMPARE(f.WaitNum->text(), QString::number(after.size()));
        if (after.isEmpty()) {
            QCOMPARE(f.UploadFile->currentText(), QString());
            QCOMPARE(f.UploadDir->text(), QString());
        } else {
            QCOMPARE(f.UploadFile->currentIndex(), 0);
            QCOMPARE(f.UploadFile->currentText(), f.Abs(after.first()));
            QCOMPARE(f.UploadDir->text(), f.RemoteOf(after.first()));
        }
    }

    // The mapping follows typing, picking and both tops at once.
    void mappingFollowsTheFields()
    {
        TIntakeFixture f;
        f.SetTops(f.Site);
        QCOMPARE(f.WaitNum->text(), QStringLiteral("0"));

        // A typed path that names no file is mapped all the same.
        QTest::keyClicks(f.UploadFile->lineEdit(), f.Site + "/new/");
        QCOMPARE(f.UploadFile->currentText(), f.Site + "/new/");
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html/new"));
        QCOMPARE(f.Form->UploadQueue().Count(), 0); // typing adds nothing

        f.RemoteTop->setText("/www/");
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/www/new"));
        f.LocalTop->setText(f.Site + "/new");
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/www"));
        f.LocalTop->setText(f.Site + "/ne");
        QCOMPARE(f.UploadDir->text(), QString());

        f.SetTops(f.Site);
        f.UploadFile->clearEditText();
        f.Queue({"@/a.html", "@/x/b.html", "@/y/c.html", "@/y/z/d.html"});
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html"));
        f.UploadFile->setCurrentIndex(3); // what a pick from the list does to the box
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html/y/z"));
        QCOMPARE(f.Items().first(), QStringLiteral("@/a.html"));
        // Picking the item that is current already changes no text; the pick alone maps.
        f.MarkMappingOutputs();
        emit f.UploadFile->activated(3);
        QCOMPARE(f.UploadDir->text(), QStringLiteral("/public_html/y/z"));
        QCOMPARE(f.WaitNum->text(), QStringLiteral("4"));
    }

    void browseLocalTop_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("localTop");
        QTest::addColumn<QString>("remote");

        QTest::newRow("folder") << "@/sub"
                                << "@/sub"
                                << "/public_html/deeper";
        QTest::newRow("root") << "/"
                              << "/"
                              << "/public_html@/sub/deeper";
        QTest::newRow("cancelled") << ""
                                   << "@/other"
                                   << "";
    }

    void browseLocalTop()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, localTop);
        QFETCH(QString, remote);

        TIntakeFixture f;
        f.SetTops(f.Abs("@/other"));
        f.Queue({"@/sub/deeper/a.html"});
        f.MarkMappingOutputs();
        f.Services->FolderResult = f.Abs(chosen);

        f.Control<QPushButton>("RefBtn")->click();
        QCOMPARE(f.Services->FolderTitles, QStringList{"ローカルの初期ディレクトリの選択："});
        QCOMPARE(f.LocalTop->text(), f.Abs(localTop));
        QCOMPARE(f.UploadDir->text(), f.Abs(remote)); // mapped also after a cancel
        QCOMPARE(f.WaitNum->text(), QStringLiteral("1"));
    }
};

LODRIN_QUEUE_TEST(TestIntake)
#include "TestIntake.moc"
