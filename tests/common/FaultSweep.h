#pragma once

// Local
#include "FileIo.h"

// Qt
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Std
#include <functional>
#include <memory>

// Fails every write an operation makes, one at a time, and checks what the
// user is left with. For one operation:
//
//   1. prepare(), run() without faults: the clean result;
//   2. prepare(), run() counting the seam's calls;
//   3. for each error and each call n: prepare(), run() with call n failing,
//      then check
//        - the run either reported an error naming a file (one of names)
//          and the system's words for the error, never "Unknown error", or
//          reported nothing and gave the clean result;
//        - every file in folders is as it was before the run or as the clean
//          run left it, and there is no other file (no temporary, no half
//          file);
//        - intact(), when given, holds;
//        - run() again without the fault gives the clean result.
//
// run() returns the error texts the user was shown. Files ending in
// .trashinfo are compared without their deletion time.
struct FaultSweep
{
    std::function<void()> prepare;
    std::function<QStringList()> run;
    QStringList folders;
    QStringList names;
    // Other words than the system's that tell the cause ("is on another file
    // system" for EXDEV).
    QStringList causes;
    // Other results that count as whole: an operation of several changes
    // run up to each of its steps, from prepare().
    QList<std::function<void()>> partials;
    // An extra check after each faulty run; returns "" or what is wrong.
    std::function<QString()> intact;
    QList<int> errors;
    // The kind of call failed in turn; FileCall::Any takes them all.
    FileCall kind = FileCall::Any;
};

// The file contents below folders, by path.
using FolderState = QMap<QString, QByteArray>;
FolderState StateOf(const QStringList &folders);

// Runs the sweep; a failed check fails the running test. Returns the number
// of fault points covered (calls x errors).
int RunFaultSweep(const FaultSweep &sweep);

// The usual errors of a full, forbidden, read-only or failing disk.
QList<int> DiskErrors();

// A scratch folder for a sweep's many flushes: in /dev/shm where it can be
// written, else below elsewhere.
std::unique_ptr<QTemporaryDir> SweepFolder(const QString &name, const QString &elsewhere);

// The message boxes with one of icons that a run shows, its questions
// answered Yes; the run's escaping error goes to the error box as in the
// program.
QStringList BoxesOf(const std::function<void()> &f, const QList<QMessageBox::Icon> &icons);
