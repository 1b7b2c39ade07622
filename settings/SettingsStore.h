#pragma once
#include <QString>
#include <memory>

class QSettings;

// The per-user store: application "Corvade", sections and keys, every value a text.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString value(const QString &section, const QString &key, const QString &defaultText) = 0;
    virtual void setValue(const QString &section, const QString &key, const QString &text) = 0;
};

// The INI file $XDG_CONFIG_HOME/Corvade/Corvade.conf through QSettings.
class IniSettingsStore : public SettingsStore {
public:
    explicit IniSettingsStore(const QString &fileName = QString());
    static QString defaultFileName();
    ~IniSettingsStore() override;

    QString value(const QString &section, const QString &key, const QString &defaultText) override;
    void setValue(const QString &section, const QString &key, const QString &text) override;

    // Writes what was saved to the file. Returns false with a reason when it could not.
    bool flush(QString *reason);
    // A reason when the file could not be read as a store; empty when it could.
    QString loadProblem() const;
    QString fileName() const;

private:
    std::unique_ptr<QSettings> m_settings;
};
