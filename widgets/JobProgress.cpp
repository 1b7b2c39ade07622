#include "widgets/JobProgress.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

#include <algorithm>
#include <optional>

namespace {
// Long enough for the steps to outweigh the event loop, short enough not to be felt.
constexpr qint64 SliceMs = 10;
// A job done sooner shows no dialog at all.
constexpr int ShowAfterMs = 500;
constexpr int Scale = 1000;

int scaled(const SteppedJob &job)
{
    const qint64 total = job.total();
    return total <= 0 ? 0 : int(std::min<qint64>(Scale, job.done() * Scale / total));
}
} // namespace

bool runWithProgress(SteppedJob &job, const QString &label, QWidget *parent)
{
    // Made only when the first slice did not finish the job, so a small one costs nothing.
    std::optional<QProgressDialog> dialog;
    QElapsedTimer slice;
    for (;;) {
        slice.start();
        bool more = true;
        while (more && slice.elapsed() < SliceMs)
            more = job.step();
        if (!more)
            return true;
        if (!dialog) {
            dialog.emplace(label, QStringLiteral("Cancel"), 0, Scale, parent);
            dialog->setWindowModality(Qt::ApplicationModal);
            dialog->setMinimumDuration(ShowAfterMs);
            dialog->setAutoClose(false);
            dialog->setAutoReset(false);
            dialog->setValue(0);
        }
        dialog->setValue(scaled(job));
        QCoreApplication::processEvents(dialog->isVisible() ? QEventLoop::AllEvents
                                                            : QEventLoop::ExcludeUserInputEvents);
        if (dialog->wasCanceled())
            return false;
    }
}

JobRunner progressRunner(QWidget *parent)
{
    QPointer<QWidget> owner(parent);
    return [owner](SteppedJob &job, const QString &label) { return runWithProgress(job, label, owner); };
}
