// The About dialog: its content, its links and every way of closing it.

#include "About.h"
#include "FormFixture.h"
#include "StaticText.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void content();
    void linksOpenTheirText();
    void closes_data();
    void closes();
};

void TestAbout::content()
{
    TFormFixture f;
    struct
    {
        bool Shown = false, SameObject = false, OkDefault = false, OkFocused = false;
        bool Fixed = false, OwnedByWindow = false, LinksWhole = true, Underlined = true;
        QString Title, Version, Copyright, OkText, Mail;
        QSize Size, IconSize;
        bool HasIcon = false;
    } seen;
    f.Services->OnExecDialog = [&](QDialog& dialog) {
        dialog.show();
        seen.Shown = QTest::qWaitForWindowExposed(&dialog);
        seen.SameObject = AboutDlg == &dialog;
        seen.Title = dialog.windowTitle();
        seen.Size = dialog.size();
        seen.Fixed = dialog.minimumSize() == dialog.maximumSize();
        seen.OwnedByWindow = dialog.parentWidget() == f.Form.get();
        seen.Version = dialog.findChild<QLabel*>(QStringLiteral("Label1"))->text();
        seen.Copyright = dialog.findChild<QLabel*>(QStringLiteral("Label2"))->text();
        auto* icon = dialog.findChild<QLabel*>(QStringLiteral("ProgramIcon"));
        seen.HasIcon = !icon->pixmap().isNull();
        seen.IconSize = icon->size();
        auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("OKButton"));
        seen.OkText = ok->text();
        seen.OkDefault = ok->isDefault();
        seen.OkFocused = ok->hasFocus();
        for (const char* name : {"stAddress", "stURL"}) {
            auto* link = dialog.findChild<TStaticText*>(QString::fromLatin1(name));
            seen.LinksWhole = seen.LinksWhole && link->width() >= link->sizeHint().width();
            seen.Underlined = seen.Underlined && link->font().underline();
        }
        seen.Mail = dialog.findChild<TStaticText*>(QStringLiteral("stAddress"))->text();
        dialog.reject();
        return dialog.result();
    };
    f.Control<QPushButton>("AboutBtn")->click();
    QVERIFY(seen.Shown);
    QVERIFY(seen.SameObject);
    QCOMPARE(AboutDlg, nullptr);
    QCOMPARE(seen.Title, QStringLiteral("バージョン情報"));
    QCOMPARE(seen.Size, QSize(292, 127));
    QVERIFY(seen.Fixed);
    QVERIFY(seen.OwnedByWindow);
    QCOMPARE(seen.Version, QStringLiteral("Lodrin Version 2.0.4.0"));
    QVERIFY(!seen.Copyright.isEmpty());
    QVERIFY(seen.HasIcon);
    QCOMPARE(seen.IconSize, QSize(32, 32));
    QCOMPARE(seen.OkText, QStringLiteral("&OK"));
    QVERIFY(seen.OkDefault);
    QVERIFY(seen.OkFocused);
    QVERIFY(seen.LinksWhole);
    QVERIFY(seen.Underlined);
    QVERIFY(seen.Mail.startsWith(QStringLiteral("mailto:")));
}

void TestAbout::linksOpenTheirText()
{
    TFormFixture f;
    QStringList shown;
    f.Services->LinkHandlerExists = false; // no handler: nothing shown, the dialog stays
    f.Services->OnExecDialog = [&](QDialog& dialog) {
        dialog.show();
        if (!QTest::qWaitForWindowExposed(&dialog))
            return int(QDialog::Rejected);
        for (int round = 0; round < 2; ++round) {
            for (const char* name : {"stAddress", "stURL"}) {
                auto* link = dialog.findChild<TStaticText*>(QString::fromLatin1(name));
                shown << link->text();
                QTest::mouseClick(link, Qt::LeftButton);
                if (!dialog.isVisible())
                    return int(QDialog::Accepted); // a click must not close the dialog
            }
        }
        dialog.reject();
        return dialog.result();
    };
    f.Control<QPushButton>("AboutBtn")->click();
    QCOMPARE(shown.size(), 4);
    QCOMPARE(f.Services->OpenedLinks, shown);
    QCOMPARE(shown[0], QString::fromLatin1(TAboutDlg::kMailLink));
    QCOMPARE(shown[1], QString::fromLatin1(TAboutDlg::kHomeLink));
    QVERIFY(f.Services->MessageBoxes.empty());
}

void TestAbout::closes_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("OK button") << "ok";
    QTest::newRow("Enter") << "enter";
    QTest::newRow("Esc") << "esc";
    QTest::newRow("close box") << "close";
}

void TestAbout::closes()
{
    QFETCH(QString, way);
    TFormFixture f;
    f.Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(f.Form.get()));
    f.Control<QLineEdit>("edHostName")->setText(QStringLiteral("ftp.example.org"));
    const auto snapshot = [&] {
        QStringList state;
        for (QWidget* w : f.Form->findChildren<QWidget*>())
            state << w->objectName() + QString::number(w->isEnabled());
        for (QLineEdit* e : f.Form->findChildren<QLineEdit*>())
            state << e->text();
        state << f.Form->LogLines();
        return state;
    };
    const QStringList before = snapshot();

    for (int time = 0; time < 2; ++time) { // every click builds a fresh dialog
        bool closed = false;
        QDialog* previous = nullptr;
        f.Services->OnExecDialog = [&](QDialog& dialog) {
            if (&dialog == previous)
                return -1;
            previous = &dialog;
            dialog.show();
            if (!QTest::qWaitForWindowExposed(&dialog))
                return -1;
            if (way == QLatin1String("ok"))
                QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("OKButton")),
                                  Qt::LeftButton);
            else if (way == QLatin1String("enter"))
                QTest::keyClick(dialog.focusWidget(), Qt::Key_Return);
            else if (way == QLatin1String("esc"))
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
            closed = !dialog.isVisible();
            return dialog.result();
        };
        f.Control<QPushButton>("AboutBtn")->click();
        QVERIFY(closed);
    }
    QCOMPARE(f.Services->ExecDialogCalls, 2);
    QCOMPARE(snapshot(), before);
    QVERIFY(f.Form->isVisible());
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestAbout test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_about.moc"
