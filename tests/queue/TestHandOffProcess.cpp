#include "QueueTests.h"

#include "HandOff.h"
#include "IntakeFixture.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QScopeGuard>
#include <QTest>

// A second start of the real executable hands its argument to the window this test runs.
class TestHandOffProcess : public QObject
{
    Q_OBJECT

private slots:
    void secondStart_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("argument"); // relative to the second start's directory
        QTest::addColumn<QStringList>("queued");

        QTest::newRow("new file") << QStringList{"@/index.html"} << "blog/page.html"
                                  << QStringList{"@/index.html", "@/blog/page.html"};
        QTest::newRow("first file")
            << QStringList{} << "blog/page.html" << QStringList{"@/blog/page.html"};
        QTest::newRow("already queued") << QStringList{"@/blog/page.html"} << "blog/page.html"
                                        << QStringList{"@/blog/page.html"};
        QTest::newRow("folder") << QStringList{"@/index.html"} << "blog"
                                << QStringList{"@/index.html"};
    }

    void secondStart()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, argument);
        QFETCH(QStringList, queued);

        QTemporaryDir channel;
        QVERIFY(channel.isValid());
        const QString channelDir = channel.path() + "/instances";
        const QByteArray previous = qgetenv("LODRIN_INSTANCE_DIR");
        qputenv("LODRIN_INSTANCE_DIR", QFile::encodeName(channelDir));
        const auto restore = qScopeGuard([&] {
            if (previous.isNull())
                qunsetenv("LODRIN_INSTANCE_DIR");
            else
                qputenv("LODRIN_INSTANCE_DIR", previous);
        });

        TIntakeFixture f;
        QVERIFY(f.Make({"@/index.html", "@/blog/page.html"}));
        f.SetTops(f.Site);
        f.Queue(before);
        const auto server = ServeHandOffs(*f.Form);
        QVERIFY(server);

        QProcess second;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("LODRIN_INSTANCE_DIR", channelDir);
        second.setProcessEnvironment(env);
        second.setWorkingDirectory(f.Site);
        second.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        second.start(QStringLiteral(LODRIN_EXECUTABLE), {argument});
        QVERIFY2(second.waitForStarted(), qPrintable(second.errorString()));
        // The window answers on this event loop, which the wait keeps running.
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 30000);

        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 1);
        QCOMPARE(f.Items(), queued);
        QCOMPARE(f.WaitNum->text(), QString::number(queued.size()));
        QCOMPARE(f.UploadFile->currentText(), f.Abs(queued.first()));
        QCOMPARE(f.UploadDir->text(), f.RemoteOf(queued.first()));
    }
};

LODRIN_QUEUE_TEST(TestHandOffProcess)
#include "TestHandOffProcess.moc"
