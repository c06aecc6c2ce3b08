#include "HandOff.h"

#include "MainUnit.h"
#include "Messages.h"

#include <QCoreApplication>
#include <QGuiApplication>

using lodrin::instance::TInstanceServer;

std::unique_ptr<TInstanceServer> ServeHandOffs(TMainForm& form)
{
    auto server = std::make_unique<TInstanceServer>();
    server->SetHandler([&form](const QByteArray& data) {
        TCopyDataEvent message(data);
        QCoreApplication::sendEvent(&form, &message);
        return message.Result != 0;
    });
    server->SetRaiseHandler([&form] {
        if (form.isMinimized())
            form.showNormal();
        form.raise();
        form.activateWindow();
    });
    if (!server->Listen())
        return nullptr;
    QObject::connect(qApp, &QGuiApplication::applicationStateChanged, server.get(),
                     [s = server.get()](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive)
                             s->Touch();
                     });
    server->Touch();
    return server;
}
