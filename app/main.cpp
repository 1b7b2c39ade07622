#include "app/ModGlobal.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvade"));
    QApplication::setOrganizationName(QStringLiteral("Corvade"));
    QApplication::setApplicationVersion(QStringLiteral(CORVADE_VERSION));

    // The shell has split the words and Qt took its own options: what is left, joined
    // with one blank, is the path of the HEX file to load.
    setCommandLinePath(QApplication::arguments().mid(1).join(QLatin1Char(' ')));
    Main();
    return app.exec();
}
