#include "QueueTests.h"

#include "RemoteDirectory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(PathStyle)

class TestRemoteDirectory : public QObject
{
    Q_OBJECT

private slots:
    void map_data()
    {
        QTest::addColumn<PathStyle>("style");
        QTest::addColumn<QString>("localTop");
        QTest::addColumn<QString>("remoteTop");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("remote");

        struct Row
        {
            const char* localTop;
            const char* remoteTop;
            const char* file;
            const char* remote;
        };
        // The worked examples, as a Windows build sees them.
        const Row windows[] = {
            {R"(C:\site)", "/public_html", R"(C:\site\blog\a.html)", "/public_html/blog"},
            {R"(C:\site)", "/public_html", R"(C:\site\index.html)", "/public_html"},
            {R"(C:\site)", "/public_html", R"(C:\site\blog\2004\a.html)", "/public_html/blog/2004"},
            {R"(C:\site\)", "/public_html", R"(C:\site\blog\a.html)", "/public_html/blog"},
            {R"(C:\site)", "/public_html/", R"(C:\site\blog\a.html)", "/public_html/blog"},
            {R"(C:\site)", "", R"(C:\site\blog\a.html)", "/blog"},
            {R"(C:\site)", "", R"(C:\site\index.html)", "/"},
            {R"(C:\site)", "/", R"(C:\site\index.html)", "/"},
            {R"(C:\site)", "htdocs", R"(C:\site\blog\a.html)", "htdocs/blog"},
            {R"(C:\site)", "htdocs", R"(C:\site\index.html)", "htdocs"},
            {R"(C:\Site)", "/public_html", R"(c:\SITE\Blog\a.html)", "/public_html/Blog"},
            {R"(C:\)", "/www", R"(C:\a.html)", "/www"},
            {R"(C:\)", "/www", R"(C:\x\a.html)", "/www/x"},
            {R"(C:\site)", "/public_html", R"(C:\site2\x.html)", ""},
            {R"(C:\site)", "/public_html", R"(D:\other\a.html)", ""},
            {"", "/public_html", R"(C:\site\blog\a.html)", ""},
            {R"(C:\site)", "/public_html", "a.html", ""},
            {R"(C:\site)", "/public_html", "", ""},
            // Two trailing backslashes: only one goes, so nothing lies below.
            {R"(C:\site\\)", "/public_html", R"(C:\site\blog\a.html)", ""},
            {R"(C:\site\\)", "/public_html", R"(C:\site\index.html)", ""},
            // A typed directory maps although no such file exists.
            {R"(C:\site)", "/public_html", R"(C:\site\new\)", "/public_html/new"},
            // The root of the current drive holds what lies below it.
            {R"(\)", "/www", R"(\x\a.html)", "/www/x"},
            {R"(\)", "/www", R"(\a.html)", "/www"},
            {R"(\)", "/www", R"(C:\x\a.html)", ""},
            {R"(\\srv\share)", "/www", R"(\\srv\share\blog\a.html)", "/www/blog"},
            {R"(C:\site)", "/www", "C:\\site\\\xe8\xa1\xa8\\a.html", "/www/\xe8\xa1\xa8"},
        };
        // The same table with Linux paths: names compare exactly.
        const Row posix[] = {
            {"/home/u/site", "/public_html", "/home/u/site/blog/a.html", "/public_html/blog"},
            {"/home/u/site", "/public_html", "/home/u/site/index.html", "/public_html"},
            {"/home/u/site", "/public_html", "/home/u/site/blog/2004/a.html",
             "/public_html/blog/2004"},
            {"/home/u/site/", "/public_html", "/home/u/site/blog/a.html", "/public_html/blog"},
            {"/home/u/site", "/public_html/", "/home/u/site/blog/a.html", "/public_html/blog"},
            {"/home/u/site", "", "/home/u/site/blog/a.html", "/blog"},
            {"/home/u/site", "", "/home/u/site/index.html", "/"},
            {"/home/u/site", "/", "/home/u/site/index.html", "/"},
            {"/home/u/site", "htdocs", "/home/u/site/blog/a.html", "htdocs/blog"},
            {"/home/u/site", "htdocs", "/home/u/site/index.html", "htdocs"},
            {"/home/u/Site", "/public_html", "/home/u/SITE/Blog/a.html", ""},
            {"/home/u/Site", "/public_html", "/home/u/Site/Blog/a.html", "/public_html/Blog"},
            {"/", "/www", "/a.html", "/www"},
            {"/", "/www", "/x/a.html", "/www/x"},
            {"/home/u/site", "/public_html", "/home/u/site2/x.html", ""},
            {"/home/u/site", "/public_html", "/srv/other/a.html", ""},
            {"", "/public_html", "/home/u/site/blog/a.html", ""},
            {"/home/u/site", "/public_html", "a.html", ""},
            {"/home/u/site", "/public_html", "", ""},
            {"/home/u/site//", "/public_html", "/home/u/site/blog/a.html", ""},
            {"/home/u/site//", "/public_html", "/home/u/site/index.html", ""},
            {"/home/u/site", "/public_html", "/home/u/site/new/", "/public_html/new"},
            // A backslash is part of a Linux name and reaches the server as it is.
            {"/home/u/site", "/www", R"(/home/u/site/a\b/x.html)", R"(/www/a\b)"},
            {"/home/u/site", "/www", "/home/u/site/\xe6\x97\xa5\xe8\xa8\x98/a.html",
             "/www/\xe6\x97\xa5\xe8\xa8\x98"},
        };
        const auto add = [](PathStyle style, const char* prefix, const auto& rows) {
            for (const Row& r : rows) {
                QTest::addRow("%s %s | %s | %s", prefix, r.localTop, r.remoteTop, r.file)
                    << style << QString::fromUtf8(r.localTop) << QString::fromUtf8(r.remoteTop)
                    << QString::fromUtf8(r.file) << QString::fromUtf8(r.remote);
            }
        };
        add(PathStyle::Windows, "win", windows);
        add(PathStyle::Posix, "posix", posix);
    }

    void map()
    {
        QFETCH(PathStyle, style);
        QFETCH(QString, localTop);
        QFETCH(QString, remoteTop);
        QFETCH(QString, file);
        QFETCH(QString, remote);
        QCOMPARE(MapRemoteDirectory(style, file, localTop, remoteTop), remote);
    }

    void replaceChar_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("from");
        QTest::addColumn<QChar>("to");
        QTest::addColumn<QString>("result");

        const QChar bs('\\');
        const QChar sl('/');
        QTest::newRow("separators") << R"(blog\2004\a)" << bs << sl << "blog/2004/a";
        QTest::newRow("empty") << "" << bs << sl << "";
        QTest::newRow("nothing to replace") << "blog" << bs << sl << "blog";
        QTest::newRow("adjacent") << R"(\\)" << bs << sl << "//";
        QTest::newRow("multibyte neighbour")
            << QString::fromUtf8("表\\ソ") << bs << sl << QString::fromUtf8("表/ソ");
        QTest::newRow("to itself") << "aXa" << QChar('a') << QChar('a') << "aXa";
        QTest::newRow("other pair") << "a.b.c" << QChar('.') << QChar('_') << "a_b_c";
    }

    void replaceChar()
    {
        QFETCH(QString, text);
        QFETCH(QChar, from);
        QFETCH(QChar, to);
        QFETCH(QString, result);
        QCOMPARE(ReplaceChar(text, from, to), result);
    }

    void normalizeArgument_data()
    {
        // "@" stands for the fixture's root:
        //   @/site/a.html, @/site/my page.html, @/site/sub/, @/other/deep/, @/other/x.html,
        //   @/site/link -> @/other/deep
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("workingDirectory");
        QTest::addColumn<QString>("result");

        QTest::newRow("relative") << "a.html"
                                  << "@/site"
                                  << "@/site/a.html";
        QTest::newRow("relative below") << "sub/b.html"
                                        << "@/site"
                                        << "@/site/sub/b.html";
        QTest::newRow("dot") << "./a.html"
                             << "@/site"
                             << "@/site/a.html";
        QTest::newRow("dot-dot") << "sub/../a.html"
                                 << "@/site"
                                 << "@/site/a.html";
        QTest::newRow("dot-dot up") << "../../site/./a.html"
                                    << "@/site/sub"
                                    << "@/site/a.html";
        QTest::newRow("absolute, doubled slashes") << "@//site///a.html"
                                                   << "/"
                                                   << "@/site/a.html";
        QTest::newRow("absolute ignores directory") << "@/site/a.html"
                                                    << ""
                                                    << "@/site/a.html";
        QTest::newRow("dot-dot above root") << "/../.."
                                            << "@"
                                            << "/";
        QTest::newRow("working directory with slash") << "a.html"
                                                      << "@/site/"
                                                      << "@/site/a.html";
        QTest::newRow("trailing slash kept") << "sub/"
                                             << "@/site"
                                             << "@/site/sub/";
        QTest::newRow("file with slash names no file") << "a.html/"
                                                       << "@/site"
                                                       << "@/site/a.html/";
        QTest::newRow("file url") << "file://@/site/a.html"
                                  << "/"
                                  << "@/site/a.html";
        QTest::newRow("file url %20") << "file://@/site/my%20page.html"
                                      << "/"
                                      << "@/site/my page.html";
        QTest::newRow("file url localhost") << "file://localhost@/site/a.html"
                                            << "/"
                                            << "@/site/a.html";
        QTest::newRow("file url one slash") << "file:@/site/a.html"
                                            << "/"
                                            << "@/site/a.html";
        QTest::newRow("file url dot-dot") << "file://@/site/sub/../a.html"
                                          << "/"
                                          << "@/site/a.html";
        QTest::newRow("file url utf-8") << "file:///%E6%97%A5/a.html"
                                        << "/" << QString::fromUtf8("/日/a.html");
        // ".." after a link steps up from where the link leads, as opening the path would.
        QTest::newRow("dot-dot after link") << "link/../x.html"
                                            << "@/site"
                                            << "@/other/x.html";
        // Paths that lead through nothing name no file: they stay as they are.
        QTest::newRow("dot-dot after missing") << "missing/../a.html"
                                               << "@/site"
                                               << "missing/../a.html";
        QTest::newRow("dot-dot after file") << "a.html/../a.html"
                                            << "@/site"
                                            << "a.html/../a.html";
        QTest::newRow("empty") << ""
                               << "@/site"
                               << "";
        QTest::newRow("other scheme") << "http://example.com/a.html"
                                      << "@/site"
                                      << "http://example.com/a.html";
        QTest::newRow("other host") << "file://server/share/a.html"
                                    << "@/site"
                                    << "file://server/share/a.html";
        QTest::newRow("url with query") << "file:///tmp/a.html?x=1"
                                        << "@/site"
                                        << "file:///tmp/a.html?x=1";
        QTest::newRow("relative url path") << "file:a.html"
                                           << "@/site"
                                           << "@/site/file:a.html";
        QTest::newRow("no working directory") << "a.html"
                                              << ""
                                              << "a.html";
        QTest::newRow("relative working directory") << "a.html"
                                                    << "site"
                                                    << "a.html";
    }

    void normalizeArgument()
    {
        QTemporaryDir fixture;
        QVERIFY(fixture.isValid());
        // The link case resolves to canonical form, so the root must be canonical too.
        const QString root = QFileInfo(fixture.path()).canonicalFilePath();
        QVERIFY(QDir(root).mkpath("site/sub"));
        QVERIFY(QDir(root).mkpath("other/deep"));
        for (const char* name : {"site/a.html", "site/my page.html", "other/x.html"}) {
            QFile f(root + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QVERIFY(QFile::link(root + "/other/deep", root + "/site/link"));

        QFETCH(QString, argument);
        QFETCH(QString, workingDirectory);
        QFETCH(QString, result);
        const auto place = [&](QString s) { return s.replace('@', root); };
        QCOMPARE(NormalizeArgument(place(argument), place(workingDirectory)), place(result));
    }
};

LODRIN_QUEUE_TEST(TestRemoteDirectory)
#include "TestRemoteDirectory.moc"
