#pragma once
#include <QList>
#include <QString>

// A serial device as the settings dialog offers it.
struct SerialDevice {
    QString name;     // what the settings store: the by-id link when one names the device
    QString location; // the device it is now, e.g. /dev/ttyUSB0
    QString label;    // the name, what the adapter says of itself, and the device it is now
};

// What the system tells of one port: the parts of QSerialPortInfo the list shows.
struct SerialPortFacts {
    QString location;
    QString description;
    QString serialNumber;
};

// The serial devices of this system, named so that the same USB adapter is found again in
// another socket: udev's by-id folder names an adapter by its maker, model and serial
// number, while /dev/ttyUSBn follows the order of plugging in.
class SerialDeviceList {
public:
    static QString defaultFolder() { return QStringLiteral("/dev/serial/by-id"); }

    explicit SerialDeviceList(const QString &byIdFolder = defaultFolder());

    // The ports QSerialPortInfo finds and the devices the by-id folder names, by name.
    QList<SerialDevice> devices() const;

    // The same for given ports. A link that leads nowhere (its adapter is unplugged) is
    // left out; one to a device the port list does not know is offered all the same, as
    // udev links only serial devices there.
    static QList<SerialDevice> devices(const QList<SerialPortFacts> &ports, const QString &byIdFolder);

    // The entry that stands for `device`, a stored name or the device a by-id link leads
    // to; -1 for none.
    static int indexOf(const QList<SerialDevice> &list, const QString &device);

private:
    QString m_folder;
};
