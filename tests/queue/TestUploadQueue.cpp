#include "QueueTests.h"

#include "UploadQueue.h"

#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(PathStyle)

namespace {

// What every intake path but the dialog does: append what is not queued yet.
void AppendIfNew(TUploadQueue& queue, const QString& path)
{
    if (!queue.Contains(path))
        queue.Append(path);
}

QStringList BoxItems(const QComboBox& box)
{
    QStringList items;
    for (int i = 0; i < box.count(); ++i)
        items.append(box.itemText(i));
    return items;
}

} // namespace

class TestUploadQueue : public QObject
{
    Q_OBJECT

private slots:
    void duplicates_data()
    {
        QTest::addColumn<PathStyle>("style");
        QTest::addColumn<QStringList>("arrivals");
        QTest::addColumn<QStringList>("queued");

        const auto W = PathStyle::Windows;
        const auto P = PathStyle::Posix;
        QTest::newRow("win case") << W << QStringList{R"(c:\site\a.html)", R"(C:\SITE\A.HTML)"}
                                  << QStringList{R"(c:\site\a.html)"};
        QTest::newRow("win dot segment is another entry")
            << W << QStringList{R"(C:\site\a.html)", R"(C:\site\.\a.html)"}
            << QStringList{R"(C:\site\a.html)", R"(C:\site\.\a.html)"};
        QTest::newRow("posix case is another file")
            << P << QStringList{"/site/a.html", "/site/A.HTML", "/site/a.html"}
            << QStringList{"/site/a.html", "/site/A.HTML"};
        QTest::newRow("posix order kept") << P << QStringList{"/s/c", "/s/a", "/s/b", "/s/a"}
                                          << QStringList{"/s/c", "/s/a", "/s/b"};
    }

    void duplicates()
    {
        QFETCH(PathStyle, style);
        QFETCH(QStringList, arrivals);
        QFETCH(QStringList, queued);
        QComboBox box;
        TUploadQueue queue(&box, style);
        for (const QString& path : arrivals)
            AppendIfNew(queue, path);
        QCOMPARE(BoxItems(box), queued);
        QCOMPARE(queue.Items(), queued);
        for (const QString& path : arrivals)
            QVERIFY(queue.Contains(path));
    }

    // The dialog queues without testing, so one path can be queued twice; removing one of the
    // two must leave the path queued.
    void dialogDoubleEntry_data()
    {
        QTest::addColumn<PathStyle>("style");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("win same text") << PathStyle::Windows << R"(C:\site\a.html)"
                                       << R"(C:\site\a.html)";
        QTest::newRow("win other case") << PathStyle::Windows << R"(c:\site\a.html)"
                                        << R"(C:\SITE\A.HTML)";
        QTest::newRow("posix same text") << PathStyle::Posix << "/site/a.html"
                                         << "/site/a.html";
    }

    void dialogDoubleEntry()
    {
        QFETCH(PathStyle, style);
        QFETCH(QString, first);
        QFETCH(QString, second);
        QComboBox box;
        TUploadQueue queue(&box, style);
        AppendIfNew(queue, first);
        queue.Append(second);
        QCOMPARE(queue.Count(), 2);
        QCOMPARE(queue.Occurrences(first), 2);
        queue.RemoveAt(0);
        QVERIFY(queue.Contains(first));
        QVERIFY(queue.Contains(second));
        queue.RemoveAt(0);
        QVERIFY(!queue.Contains(first));
        QVERIFY(!queue.Contains(second));
        QCOMPARE(queue.Count(), 0);
    }

    void removal_data()
    {
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("text");

        // The box's text after a removal: the item that becomes current, or empty.
        QTest::newRow("head") << 0 << 0 << QStringList{"/s/b", "/s/c", "/s/d"} << "/s/b";
        QTest::newRow("item 2") << 2 << 2 << QStringList{"/s/a", "/s/b", "/s/d"} << "/s/d";
        QTest::newRow("last item") << 3 << 3 << QStringList{"/s/a", "/s/b", "/s/c"} << "/s/c";
        QTest::newRow("other than selected")
            << 0 << 1 << QStringList{"/s/a", "/s/c", "/s/d"} << "/s/a";
        QTest::newRow("out of range")
            << 0 << 4 << QStringList{"/s/a", "/s/b", "/s/c", "/s/d"} << "/s/a";
        QTest::newRow("nothing") << 0 << -1 << QStringList{"/s/a", "/s/b", "/s/c", "/s/d"}
                                 << "/s/a";
    }

    void removal()
    {
        QFETCH(int, selected);
        QFETCH(int, index);
        QFETCH(QStringList, left);
        QFETCH(QString, text);
        const QStringList all{"/s/a", "/s/b", "/s/c", "/s/d"};
        QComboBox box;
        TUploadQueue queue(&box, PathStyle::Posix);
        for (const QString& path : all)
            queue.Append(path);
        queue.Select(selected);

        QSignalSpy edits(&box, &QComboBox::editTextChanged);
        QSignalSpy indexes(&box, &QComboBox::currentIndexChanged);
        queue.RemoveAt(index);
        QCOMPARE(edits.count(), 0);
        QCOMPARE(indexes.count(), 0);

        QCOMPARE(BoxItems(box), left);
        QCOMPARE(box.currentText(), text);
        for (const QString& path : all)
            QCOMPARE(queue.Contains(path), left.contains(path));
    }

    void removeEverything()
    {
        QComboBox box;
        TUploadQueue queue(&box, PathStyle::Posix);
        queue.Append("/s/a");
        queue.Append("/s/b");
        queue.RemoveAt(1);
        queue.RemoveAt(0);
        QCOMPARE(queue.Count(), 0);
        QCOMPARE(queue.SelectedIndex(), -1);
        QCOMPARE(box.currentText(), QString());
        QVERIFY(!queue.Contains("/s/a"));

        queue.Append("/s/c");
        queue.Append("/s/d");
        queue.Clear();
        QCOMPARE(box.count(), 0);
        QVERIFY(!queue.Contains("/s/c"));
        QCOMPARE(box.currentText(), QString());
    }

    // No change to the queue may run the box's change handler halfway.
    void changesAreSilent()
    {
        QComboBox box;
        TUploadQueue queue(&box, PathStyle::Posix);
        QSignalSpy edits(&box, &QComboBox::editTextChanged);
        QSignalSpy texts(&box, &QComboBox::currentTextChanged);
        QSignalSpy indexes(&box, &QComboBox::currentIndexChanged);
        queue.Append("/s/a");
        {
            TUploadQueue::Batch batch(queue);
            queue.Append("/s/b");
        }
        queue.InsertHead("/s/typed");
        queue.Select(2);
        queue.RemoveAt(2);
        queue.Clear();
        QCOMPARE(edits.count(), 0);
        QCOMPARE(texts.count(), 0);
        QCOMPARE(indexes.count(), 0);
    }

    void insertHead()
    {
        QComboBox box;
        TUploadQueue queue(&box, PathStyle::Windows);
        queue.Append(R"(C:\s\a)");
        queue.Select(0);
        queue.InsertHead(R"(C:\s\typed)");
        QCOMPARE(BoxItems(box), (QStringList{R"(C:\s\typed)", R"(C:\s\a)"}));
        QVERIFY(queue.Contains(R"(c:\S\TYPED)"));
        QCOMPARE(queue.At(0), R"(C:\s\typed)");
    }

    void batch()
    {
        QComboBox box;
        TUploadQueue queue(&box, PathStyle::Posix);
        queue.Append("/s/first");
        {
            TUploadQueue::Batch outer(queue);
            {
                TUploadQueue::Batch inner(queue);
                queue.Append("/s/a");
            }
            queue.Append("/s/b");
            // Waiting items count, are found and read back before the box has them.
            QCOMPARE(queue.Count(), 3);
            QCOMPARE(queue.At(1), QString("/s/a"));
            QCOMPARE(queue.At(2), QString("/s/b"));
            QVERIFY(queue.Contains("/s/b"));
            QCOMPARE(queue.Items(), (QStringList{"/s/first", "/s/a", "/s/b"}));
            QCOMPARE(box.count(), 1);
            queue.Flush();
            QCOMPARE(box.count(), 3);
            queue.Append("/s/c");
            // A removal meanwhile works on the whole queue.
            queue.RemoveAt(0);
            QCOMPARE(box.count(), 3);
            queue.Append("/s/d");
        }
        QCOMPARE(BoxItems(box), (QStringList{"/s/a", "/s/b", "/s/c", "/s/d"}));
        QCOMPARE(queue.At(4), QString());
        QCOMPARE(queue.At(-1), QString());
    }

    void adoptsExistingItems()
    {
        QComboBox box;
        box.addItems({"/s/a", "/s/a", "/s/b"});
        TUploadQueue queue(&box, PathStyle::Posix);
        QVERIFY(box.isEditable());
        QCOMPARE(box.insertPolicy(), QComboBox::NoInsert);
        QCOMPARE(queue.Occurrences("/s/a"), 2);
        QVERIFY(queue.Contains("/s/b"));
    }
};

LODRIN_QUEUE_TEST(TestUploadQueue)
#include "TestUploadQueue.moc"
