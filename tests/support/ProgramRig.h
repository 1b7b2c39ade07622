#pragma once
#include "app/Application.h"
#include "support/BoardProcess.h"
#include "support/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

// The whole program as main() starts it, with a settings folder of its own whose "Ports"
// entry names corvade-board's link in a temporary folder.
struct ProgramRig {
    QTemporaryDir dir;
    ScriptedPrompter prompts;
    BoardProcess board;
    std::unique_ptr<Application> app;

    QString path(const QString &name) const { return dir.filePath(name); }
    QString linkPath() const { return path(QStringLiteral("ttyBOARD")); }
    QString configFile() const { return path(QStringLiteral("config/Corvade/Corvade.conf")); }
    // The program's by-id folder of serial adapters, empty unless a test fills it.
    QString byIdFolder() const { return path(QStringLiteral("by-id")); }

    bool startBoard(const QStringList &options)
    {
        board.stop();
        QFile::remove(linkPath());
        return !board.start(options, linkPath()).isEmpty();
    }
    // A fresh settings folder naming `device` for port 2.
    void configure(const QString &device)
    {
        QDir(path(QStringLiteral("config"))).removeRecursively();
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
        if (!device.isEmpty())
            QSettings(configFile(), QSettings::IniFormat).setValue(QStringLiteral("Ports/COM 2"), device);
    }
    // The program as main() makes and starts it, with the file named on the command line;
    // the boxes answered from `answers`.
    MainWindow &startProgram(const QString &commandLine = {}, const QList<Prompter::Answer> &answers = {})
    {
        app.reset();
        prompts = ScriptedPrompter();
        prompts.answers = answers;
        app = std::make_unique<Application>(commandLine, &prompts, byIdFolder());
        app->start();
        return app->mainWindow();
    }
    // A board with `options`, fresh settings naming it, and the program started.
    MainWindow &start(const QStringList &options, const QString &commandLine = {})
    {
        if (!startBoard(options))
            qFatal("corvade-board did not start");
        configure(linkPath());
        return startProgram(commandLine);
    }
    void stop()
    {
        app.reset();
        board.stop();
    }
};

// The status log from `from` on, in lines.
inline QStringList statusLines(const QString &text, qsizetype from = 0)
{
    QStringList lines = text.mid(from).split(QStringLiteral("\r\n"));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}
