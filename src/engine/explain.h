#ifndef EXPLAIN_H
#define EXPLAIN_H

#include <QString>
#include <QtGlobal>

struct SoundInfo;

// Why a sound or a bank was refused, in the words the window shows below
// its message and zkstool prints after it: the numbers a user needs to act
// on it (how long, how large, how much is left). Shared, so both say the
// same.

// A name the device would read wrongly.
QString ControlCharacterDetail();

// A sound's length against the longest a layer holds, e.g. "the sound
// lasts 40.0 s; a layer holds at most 35.6 s of mono sound", or against the
// shortest one it takes. The longest counts the one channel the bank keeps,
// so stereo holds as long as mono. The seconds carry one decimal,
// or as many more as it takes to tell the two apart.
QString TooBigDetail(const SoundInfo &sound);

// The size tables' rule for banks of five or more layers.
QString SizeTableDetail();

// What a layer of `layerSize` bytes needs and what a bank with `usedSpace`
// bytes taken has left, in KB (1,000 bytes) and seconds of sound.
QString NoSpaceDetail(qint32 layerSize, qint32 usedSpace);

// A file name's length against the longest the sound check accepts.
QString NameTooLongDetail(const QString &fileName);

// The detail of the sound check's verdict `code` (from OpenAndCheckFile) on
// `converted`, the result of ConvertFile, with the converter's `reason`
// (empty when it gave none). Empty when there is nothing to add. Reads the
// converted file's header for a sound of the wrong length. A format the
// converters don't recognise gets the formats they accept.
QString SoundCheckDetail(int code, const QString &converted, const QString &reason);

// "subject: detail", the way a failure names the file or bank it is about.
QString AboutFile(const QString &subject, const QString &detail);

// "text (detail)", or the text alone when there is no detail: how zkstool
// prints a refusal.
QString WithDetail(const QString &text, const QString &detail);

#endif
