#pragma once

// Local
#include "MetaEngine.h"

// Qt
#include <QByteArray>

// Std
#include <memory>

// EMF+ records, as GDI+ writes them into the comment records of an EMF:
// their own objects, world and page transforms, clipping and drawing with
// anti-aliasing, alpha and gradients, drawn onto the metafile engine's
// canvas. An "EMF+ dual" file carries the same picture twice, as EMF+ and as
// plain records; where EMF+ is drawn the plain records are passed over,
// except those after a GetDC record, up to the next EMF+ record.

// What a file's EMF+ records are: whether there are any behind a sound
// header, whether the file says it is dual, and whether every record type
// in it is one this reader draws.
struct TEmfPlusSurvey
{
    bool HasPlus = false;
    bool Dual = false;
    bool AllKnown = true;
};
TEmfPlusSurvey SurveyEmfPlus(const QByteArray &data, qint64 firstRecord);

// Whether a file's EMF+ records are drawn in place of its plain records:
// always for an EMF+-only file (its plain part draws nothing of the
// picture), and for a dual file when every record type is known, so that a
// dual file with records this reader cannot draw keeps its plain picture.
bool DrawEmfPlus(const TEmfPlusSurvey &survey);

// True when an EMR_COMMENT record holds EMF+ records.
bool IsEmfPlusComment(const TMetaBytes &record);

class TEmfPlusPlayer
{
public:
    // deviceDpi: the metafile's reference device, in pixels per inch.
    TEmfPlusPlayer(TMetaEngine &engine, QPointF deviceDpi);
    ~TEmfPlusPlayer();
    TEmfPlusPlayer(const TEmfPlusPlayer &) = delete;
    TEmfPlusPlayer &operator=(const TEmfPlusPlayer &) = delete;

    // Plays the EMF+ records of one EMR_COMMENT record.
    void PlayComment(const TMetaBytes &record);
    // Whether the plain records that follow are drawn: before the EMF+
    // header, and after a GetDC record until the next EMF+ record.
    bool PlainRecordsDraw() const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};
