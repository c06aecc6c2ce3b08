#include "QueueTests.h"

#include <QApplication>
#include <QTest>

std::vector<QueueTestFactory>& QueueTestRegistry()
{
    static std::vector<QueueTestFactory> registry;
    return registry;
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int status = 0;
    for (const QueueTestFactory& make : QueueTestRegistry()) {
        const std::unique_ptr<QObject> test = make();
        status |= QTest::qExec(test.get(), argc, argv);
    }
    return status;
}
