#include "QueueTests.h"

#include "PathRules.h"

#include <QTest>

#include <string>

Q_DECLARE_METATYPE(PathStyle)

namespace {
std::string Utf8(const QString& s)
{
    return s.toStdString();
}
} // namespace

class TestPathRules : public QObject
{
    Q_OBJECT

private slots:
    void nativeStyle() { QCOMPARE(NativePathStyle(), PathStyle::Posix); }

    void parts_data()
    {
        QTest::addColumn<PathStyle>("style");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("ext");

        const auto W = PathStyle::Windows;
        const auto P = PathStyle::Posix;
        QTest::newRow("win nested") << W << R"(C:\site\blog\a.html)"
                                    << R"(C:\site\blog)"
                                    << "a.html"
                                    << ".html";
        QTest::newRow("win drive root") << W << R"(C:\a.html)"
                                        << R"(C:\)"
                                        << "a.html"
                                        << ".html";
        QTest::newRow("win drive relative") << W << "C:a.html"
                                            << "C:"
                                            << "a.html"
                                            << ".html";
        QTest::newRow("win network") << W << R"(\\server\share\a.html)"
                                     << R"(\\server\share)"
                                     << "a.html"
                                     << ".html";
        QTest::newRow("win double backslash") << W << R"(\\a.html)"
                                              << R"(\\)"
                                              << "a.html"
                                              << ".html";
        QTest::newRow("win leading backslash") << W << R"(\a.html)"
                                               << R"(\)"
                                               << "a.html"
                                               << ".html";
        QTest::newRow("win bare name") << W << "a.html"
                                       << ""
                                       << "a.html"
                                       << ".html";
        QTest::newRow("win typed dir") << W << R"(C:\site\new\)"
                                       << R"(C:\site\new)"
                                       << ""
                                       << "";
        QTest::newRow("win slash is a character") << W << R"(C:\a/b.html)"
                                                  << R"(C:\)"
                                                  << "a/b.html"
                                                  << ".html";
        // 表 is 0x95 0x5C in CP932; in UTF-8 none of its bytes is a backslash.
        QTest::newRow("win multibyte")
            << W << QString::fromUtf8("C:\\表\\ソ.txt") << QString::fromUtf8("C:\\表")
            << QString::fromUtf8("ソ.txt") << ".txt";
        QTest::newRow("win dotted dir") << W << R"(C:\x.d\readme)"
                                        << R"(C:\x.d)"
                                        << "readme"
                                        << "";

        QTest::newRow("posix nested") << P << "/home/u/site/blog/a.html"
                                      << "/home/u/site/blog"
                                      << "a.html"
                                      << ".html";
        QTest::newRow("posix root") << P << "/a.html"
                                    << "/"
                                    << "a.html"
                                    << ".html";
        QTest::newRow("posix double slash") << P << "//a.html"
                                            << "//"
                                            << "a.html"
                                            << ".html";
        QTest::newRow("posix relative") << P << "site/a.html"
                                        << "site"
                                        << "a.html"
                                        << ".html";
        QTest::newRow("posix bare name") << P << "a.html"
                                         << ""
                                         << "a.html"
                                         << ".html";
        QTest::newRow("posix backslash is a character") << P << R"(/s/a\b.txt)"
                                                        << "/s"
                                                        << R"(a\b.txt)"
                                                        << ".txt";
        QTest::newRow("posix colon is a character") << P << "/s/c:a.txt"
                                                    << "/s"
                                                    << "c:a.txt"
                                                    << ".txt";
        QTest::newRow("posix hidden") << P << "/s/.htaccess"
                                      << "/s"
                                      << ".htaccess"
                                      << ".htaccess";
        QTest::newRow("posix two dots") << P << "/s/a.tar.gz"
                                        << "/s"
                                        << "a.tar.gz"
                                        << ".gz";
        QTest::newRow("posix trailing dot") << P << "/s/a."
                                            << "/s"
                                            << "a."
                                            << ".";
        QTest::newRow("posix dotted dir") << P << "/s.d/readme"
                                          << "/s.d"
                                          << "readme"
                                          << "";
        QTest::newRow("posix multibyte") << P << QString::fromUtf8("/サイト/日記/a.html")
                                         << QString::fromUtf8("/サイト/日記") << "a.html"
                                         << ".html";
    }

    void parts()
    {
        QFETCH(PathStyle, style);
        QFETCH(QString, path);
        QFETCH(QString, dir);
        QFETCH(QString, name);
        QFETCH(QString, ext);
        QCOMPARE(QString::fromStdString(ExtractFileDir(style, Utf8(path))), dir);
        QCOMPARE(QString::fromStdString(ExtractFileName(style, Utf8(path))), name);
        QCOMPARE(QString::fromStdString(ExtractFileExt(style, Utf8(path))), ext);
    }

    void samePathText_data()
    {
        QTest::addColumn<PathStyle>("style");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");

        const auto W = PathStyle::Windows;
        const auto P = PathStyle::Posix;
        QTest::newRow("win case") << W << R"(c:\site\a.html)"
                                  << R"(C:\SITE\A.HTML)" << true;
        QTest::newRow("win dot segment") << W << R"(C:\site\.\a.html)"
                                         << R"(C:\site\a.html)" << false;
        QTest::newRow("win non-ascii case")
            << W << QString::fromUtf8(R"(C:\é.html)") << QString::fromUtf8(R"(C:\É.html)") << false;
        QTest::newRow("win prefix") << W << R"(C:\a)"
                                    << R"(C:\a.html)" << false;
        QTest::newRow("posix case") << P << "/site/a.html"
                                    << "/site/A.html" << false;
        QTest::newRow("posix equal") << P << "/site/a.html"
                                     << "/site/a.html" << true;
        QTest::newRow("posix empty") << P << ""
                                     << "" << true;
    }

    void samePathText()
    {
        QFETCH(PathStyle, style);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        QCOMPARE(SamePathText(style, Utf8(a), Utf8(b)), same);
        // The hash key must agree with the comparison, or the queue's index would.
        QCOMPARE(FoldPathKey(style, Utf8(a)) == FoldPathKey(style, Utf8(b)), same);
        QCOMPARE(FoldPathKey(style, Utf8(a)).size(), Utf8(a).size());
    }
};

LODRIN_QUEUE_TEST(TestPathRules)
#include "TestPathRules.moc"
