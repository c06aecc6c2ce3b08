// The process entry: hand the arguments to the running window, or start a full instance.

#include "HandOff.h"
#include "MainUnit.h"
#include "RemoteDirectory.h"
#include "Signals.h"
#include "Version.h"

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QMessageBox>

using lodrin::instance::HandOff;
using lodrin::instance::THandOffResult;

int main(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // A start with arguments while a window runs hands them over and ends without a window.
    // They go out as a full start of this process would queue them: absolute, cleaned, a file:
    // URL as its path; the running window's working directory is another.
    if (!arguments.isEmpty()) {
        const QString workingDirectory = QDir::currentPath();
        QStringList paths;
        for (const QString& argument : std::as_const(arguments))
            paths << NormalizeArgument(argument, workingDirectory);
        if (HandOff(paths, workingDirectory) == THandOffResult::Accepted)
            return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kProductName));
    QApplication::setApplicationVersion(QString::fromUtf8(kProductVersion));
    QApplication::setOrganizationName(QString::fromUtf8(kCompanyName));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lodrin/lodrin.ico")));
    QApplication::setDesktopFileName(QStringLiteral("lodrin"));
    try {
        TMainForm form(TStartInfo{QCoreApplication::applicationFilePath(), arguments},
                       std::make_unique<TDesktopServices>());

        // Signals first: once the socket exists, a SIGTERM must find the handler in place.
        CloseOnTerminationSignals(&form);
        const auto server = ServeHandOffs(form);
        form.show();
        QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, QStringLiteral("Lodrin "), QString::fromUtf8(e.what()));
    }
    return 0;
}
