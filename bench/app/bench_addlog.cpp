// AddLog in a burst of lines with the window shown, beside a plain appendPlainText per line on
// the same kind of pane, in one run. Prints the cost per line of both.
//   bench_addlog [lines]

#include "FormFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 100000;

    QStringList texts;
    texts.reserve(lines);
    for (int i = 0; i < lines; ++i)
        texts
            << QStringLiteral("Upload Speed %1.00 KB/s; 残り 0分%2秒\r\n").arg(i % 977).arg(i % 60);

    TFormFixture f;
    f.Form->show();
    if (!QTest::qWaitForWindowExposed(f.Form.get()))
        return 2;
    QElapsedTimer timer;
    timer.start();
    for (const QString& text : texts)
        f.Form->AddLog(text);
    QCoreApplication::processEvents(); // the pane catches up and repaints
    const double ours = double(timer.nsecsElapsed()) / lines / 1000.0;

    // The pane must show exactly the last 500 lines.
    const QStringList shown = f.Form->findChild<QPlainTextEdit*>(QStringLiteral("reLog"))
                                  ->toPlainText()
                                  .split(QLatin1Char('\n'));
    const qsizetype keep = std::min<qsizetype>(500, lines);
    for (qsizetype i = 0; i < keep; ++i) {
        if (shown.value(i) != texts[lines - keep + i].trimmed()) {
            std::fprintf(stderr, "pane differs at line %lld\n", static_cast<long long>(i));
            return 1;
        }
    }

    QPlainTextEdit plain;
    plain.setMaximumBlockCount(500);
    plain.setReadOnly(true);
    plain.resize(473, 81);
    plain.show();
    if (!QTest::qWaitForWindowExposed(&plain))
        return 2;
    timer.restart();
    for (const QString& text : texts) {
        plain.appendPlainText(text.trimmed());
        plain.ensureCursorVisible();
    }
    QCoreApplication::processEvents();
    const double theirs = double(timer.nsecsElapsed()) / lines / 1000.0;

    std::printf("lines: %d\n", lines);
    std::printf("AddLog: %.3f us/line; QPlainTextEdit::appendPlainText: %.3f us/line; ratio %.3f\n",
                ours, theirs, theirs > 0 ? ours / theirs : 0.0);
    return 0;
}
