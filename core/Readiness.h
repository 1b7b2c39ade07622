#pragma once
#include <QString>

// What the readiness modes change in the main window. The main window implements it;
// tests record the calls.
class ReadinessView {
public:
    virtual ~ReadinessView() = default;
    virtual void setCaption(const QString &caption) = 0;
    virtual void setKernelMenuEnabled(bool enabled) = 0;
    virtual void addRecentFile(const QString &path) = 0;
};

// The text after the last "/" of a path (the whole path when it has none).
QString fileNameOf(const QString &path);

// Readiness of the loaded file and of the serial port. The Kernel menu is enabled
// exactly when both are ready; only the four mode operations touch it.
class Readiness {
public:
    static constexpr const char *Title = "Corvade";

    // The view may be null (no window yet); construction already applies both "not ready" modes.
    explicit Readiness(ReadinessView *view = nullptr);

    void setView(ReadinessView *view) { m_view = view; }

    bool fileReady() const { return m_fileReady; }
    bool serialReady() const { return m_serielReady; }

    void setFileNotReady();
    void setFileReady(const QString &path);
    void setSerialReady();
    void setSerialNotReady();

private:
    ReadinessView *m_view;
    bool m_fileReady = false;
    bool m_serielReady = false;
};
