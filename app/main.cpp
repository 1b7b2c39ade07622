#include "app/Application.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

#include <cstdio>

namespace {
const char kUsage[] =
    "Usage: corvade [HEX-FILE]\n"
    "Loads HEX-FILE (an Intel HEX file), downloads it to an 8051 board's kernel over a\n"
    "serial line, runs it and gives a terminal to talk to it.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the version and exit\n"
    "\n"
    "Everything else on the command line, joined with blanks, is the HEX file's path.\n"
    "Settings: $XDG_CONFIG_HOME/Corvade/Corvade.conf (~/.config/Corvade/Corvade.conf).\n"
    "Try it without a board: corvade-board --help\n";
}

int main(int argc, char *argv[])
{
    // Answered before any window system is needed, so they work without a display.
    if (argc == 2) {
        const QByteArray arg = argv[1];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version" || arg == "-v") {
            std::printf("corvade %s\n", CORVADE_VERSION);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvade"));
    QApplication::setOrganizationName(QStringLiteral("Corvade"));
    QApplication::setApplicationVersion(QStringLiteral(CORVADE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvade.svg")));
    QApplication::setDesktopFileName(QStringLiteral("corvade"));

    // The shell has split the words and Qt took its own options: what is left, joined
    // with one blank, is the path of the HEX file to load.
    // It also turns SIGINT and SIGTERM into an ordinary close.
    Application corvade(QApplication::arguments().mid(1).join(QLatin1Char(' ')));

    // Stopped while starting: closed and saved already, there is no main loop to run.
    if (!corvade.start())
        return 0;
    return app.exec();
}
