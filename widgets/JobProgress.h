#pragma once
#include "core/SteppedJob.h"

class QWidget;

// Runs job on the GUI thread, a slice of steps at a time with the event loop turning in
// between, so windows repaint and the terminal keeps receiving. A modal progress dialog
// with Cancel appears once the job looks like taking longer than a moment; until then
// the user's clicks and keys wait, so no other command starts in between. False when the
// user cancelled.
bool runWithProgress(SteppedJob &job, const QString &label, QWidget *parent);

// A JobRunner showing its progress over parent.
JobRunner progressRunner(QWidget *parent);
