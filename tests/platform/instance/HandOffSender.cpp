// Hands its arguments over as the program's entry does. Exit code: 0 no instance, 1 accepted,
// 2 refused.
#include "InstanceChannel.h"

#include <QDir>
#include <QFile>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    switch (lodrin::instance::HandOff(arguments, QDir::currentPath())) {
    case lodrin::instance::THandOffResult::NoInstance:
        return 0;
    case lodrin::instance::THandOffResult::Accepted:
        return 1;
    case lodrin::instance::THandOffResult::Refused:
        return 2;
    }
    return 3;
}
