#include "link/SerialDeviceList.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace {
QString resolved(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).canonicalFilePath();
}

QString labelOf(const SerialDevice &device, const SerialPortFacts &facts)
{
    QStringList about;
    if (!facts.description.isEmpty())
        about << facts.description;
    if (!facts.serialNumber.isEmpty())
        about << QStringLiteral("serial ") + facts.serialNumber;
    QString label = device.name;
    if (!about.isEmpty())
        label += QStringLiteral(" \u2014 ") + about.join(QStringLiteral(", "));
    if (device.name != device.location) {
        const QString dev = QStringLiteral("/dev/");
        label += QStringLiteral(" (%1)").arg(device.location.startsWith(dev) ? device.location.mid(dev.size())
                                                                             : device.location);
    }
    return label;
}
} // namespace

SerialDeviceList::SerialDeviceList(const QString &byIdFolder) : m_folder(byIdFolder) {}

QList<SerialDevice> SerialDeviceList::devices() const
{
    QList<SerialPortFacts> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append({info.systemLocation(), info.description(), info.serialNumber()});
    return devices(ports, m_folder);
}

QList<SerialDevice> SerialDeviceList::devices(const QList<SerialPortFacts> &ports, const QString &byIdFolder)
{
    QList<SerialDevice> list;
    QList<SerialPortFacts> facts = ports; // facts[i] tells of list[i]
    for (const SerialPortFacts &port : ports)
        list.append({port.location, port.location, {}});
    // Sorted, so that of two links to one device the same one wins every time. No folder
    // is no links, not the current folder.
    const QFileInfoList links = byIdFolder.isEmpty()
        ? QFileInfoList()
        : QDir(byIdFolder).entryInfoList(QDir::System | QDir::Files, QDir::Name);
    for (const QFileInfo &link : links) {
        const QString target = link.isSymLink() ? link.canonicalFilePath() : QString();
        if (target.isEmpty())
            continue;
        const auto known = std::find_if(list.begin(), list.end(), [&](const SerialDevice &d) {
            return resolved(d.location) == target;
        });
        if (known == list.end()) {
            list.append({link.absoluteFilePath(), target, {}});
            facts.append({target, {}, {}});
        } else if (known->name == known->location) {
            known->name = link.absoluteFilePath();
        }
    }
    for (qsizetype i = 0; i < list.size(); ++i)
        list[i].label = labelOf(list[i], facts[i]);
    std::sort(list.begin(), list.end(), [](const SerialDevice &a, const SerialDevice &b) { return a.name < b.name; });
    return list;
}

int SerialDeviceList::indexOf(const QList<SerialDevice> &list, const QString &device)
{
    const QString target = resolved(device);
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].name == device || (!target.isEmpty() && resolved(list[i].location) == target))
            return int(i);
    }
    return -1;
}
