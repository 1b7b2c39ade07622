#pragma once
#include <QString>

// Outcome of writing the terminal somewhere: failure carries the reason for the user.
struct WriteResult {
    bool ok = true;
    QString error;

    static WriteResult failure(const QString &why) { return {false, why}; }
};
