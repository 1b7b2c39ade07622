#include "shell/TextEditor.h"

#include "shell/DesktopShell.h"

#include <QDesktopServices>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace TextEditor {

namespace {

const QString PlainText = QStringLiteral("text/plain");

// The value of key in group of a desktop-style key file, or a null string.
QString keyFileValue(const QString &fileName, const QString &group, const QString &key)
{
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&f);
    bool inGroup = false;
    const QString header = QLatin1Char('[') + group + QLatin1Char(']');
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == header;
            continue;
        }
        if (!inGroup)
            continue;
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

// Undoes the escapes a desktop file applies to every string value.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar n = value[++i];
        switch (n.unicode()) {
        case 's': out += QLatin1Char(' '); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 't': out += QLatin1Char('\t'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case '\\': out += QLatin1Char('\\'); break;
        default: out += c; out += n; break;
        }
    }
    return out;
}

bool entryExists(const QString &entryName)
{
    return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entryName).isEmpty();
}

QString firstInstalled(const QString &list)
{
    for (const QString &entry : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        if (entryExists(entry.trimmed()))
            return entry.trimmed();
    }
    return QString();
}

} // namespace

QStringList editorCommandLine(const QString &editorCommand, const QString &path)
{
    QStringList args = QProcess::splitCommand(editorCommand);
    if (!args.isEmpty() && !path.isEmpty())
        args << path;
    return args;
}

QString defaultTextEntry()
{
    // The lists in the order the desktop consults them: the user's first, desktop-specific
    // ones before the general one, and the installed caches last.
    QStringList desktops;
    for (const QString &d : qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        desktops << d.toLower();
    QStringList lists;
    const auto addDir = [&](const QString &dir) {
        for (const QString &d : desktops)
            lists << dir + QLatin1Char('/') + d + QStringLiteral("-mimeapps.list");
        lists << dir + QStringLiteral("/mimeapps.list");
    };
    for (const QString &dir : QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation))
        addDir(dir);
    const QStringList appDirs = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString &dir : appDirs)
        addDir(dir);
    for (const QString &dir : appDirs)
        lists << dir + QStringLiteral("/defaults.list");

    for (const QString &list : lists) {
        const QString entry = firstInstalled(keyFileValue(list, QStringLiteral("Default Applications"), PlainText));
        if (!entry.isEmpty())
            return entry;
    }
    for (const QString &dir : appDirs) {
        const QString entry =
            firstInstalled(keyFileValue(dir + QStringLiteral("/mimeinfo.cache"), QStringLiteral("MIME Cache"), PlainText));
        if (!entry.isEmpty())
            return entry;
    }
    return QString();
}

QString desktopEntryExec(const QString &entryName)
{
    const QString file = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entryName);
    if (file.isEmpty())
        return QString();
    return unescapeValue(keyFileValue(file, QStringLiteral("Desktop Entry"), QStringLiteral("Exec")));
}

QStringList desktopExecCommand(const QString &exec, const QString &path)
{
    // Arguments are separated by blanks; double quotes group, and inside them a backslash
    // escapes the next character.
    QStringList words;
    QString word;
    bool inWord = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size())
                word += exec[++i];
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                word += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inWord = true;
        } else if (c.isSpace()) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;

    QStringList args;
    bool fileGiven = false;
    for (const QString &w : std::as_const(words)) {
        if (w == QLatin1String("%f") || w == QLatin1String("%F") || w == QLatin1String("%u")
            || w == QLatin1String("%U")) {
            fileGiven = true;
            if (!path.isEmpty())
                args << path;
            continue;
        }
        if (w == QLatin1String("%i") || w == QLatin1String("%c") || w == QLatin1String("%k"))
            continue;
        QString out;
        for (qsizetype i = 0; i < w.size(); ++i) {
            if (w[i] == QLatin1Char('%') && i + 1 < w.size()) {
                if (w[++i] == QLatin1Char('%'))
                    out += QLatin1Char('%');
                // Any other code inside a word has nothing to stand for here.
                continue;
            }
            out += w[i];
        }
        args << out;
    }
    if (!fileGiven && !path.isEmpty() && !args.isEmpty())
        args << path;
    return args;
}

int32_t open(const QString &editorCommand, const QString &path, bool wait)
{
    QStringList args = editorCommandLine(editorCommand, path);
    if (args.isEmpty()) {
        const QString entry = defaultTextEntry();
        if (!entry.isEmpty())
            args = desktopExecCommand(desktopEntryExec(entry), path);
    }
    if (args.isEmpty()) {
        // No text editor known: let the desktop choose by the file's own type.
        if (path.isEmpty())
            return 0;
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path)) ? 1 : 0;
    }
    DesktopShell shell;
    const QString program = args.takeFirst();
    return shell.runProgram(program, args, wait);
}

} // namespace TextEditor
