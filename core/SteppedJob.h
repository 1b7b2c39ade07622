#pragma once
#include <QString>
#include <QtGlobal>

#include <functional>

// Long work done in short steps, so that whoever drives it keeps its window turning and
// can offer Cancel in between.
class SteppedJob {
public:
    virtual ~SteppedJob() = default;

    // Does the next step, a few milliseconds' work; false once nothing is left to do,
    // whether the job finished or failed.
    virtual bool step() = 0;
    // Progress as work done of the whole, in units of the job's own choosing.
    virtual qint64 done() const = 0;
    virtual qint64 total() const = 0;
};

// Drives a job to its end, telling the user what it does with label; false when the user
// cancelled it part way, which leaves the job unfinished.
using JobRunner = std::function<bool(SteppedJob &job, const QString &label)>;

// Steps the job to its end with nothing shown and no way to cancel.
inline bool runJobToEnd(SteppedJob &job, const QString &)
{
    while (job.step()) {
    }
    return true;
}
