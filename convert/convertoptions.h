#pragma once

#include "chaptertime.h"
#include "codepage.h"
#include "formats/chapter.h"
#include "keyframes.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Tessaline {

enum class OutputEncoding {
    Ansi, // the ANSI code page, no byte order mark
    Unicode, // UTF-16LE after the byte order mark FF FE
};

// The chapter format written.
enum class ChapterFormat {
    Simple, // CHAPTERnn=HH:MM:SS.mmm / CHAPTERnnNAME=title pairs, as read; "_new.txt"
    Matroska, // Matroska chapter XML, as mkvmerge reads it; "_new.xml"
    Ffmetadata, // ffmpeg's metadata file; "_new.ffmetadata"
    WebVtt, // WebVTT chapters, for the web's players; "_new.vtt"
    CueSheet, // a CUE sheet, at most 99 tracks; "_new.cue"
    TimestampList, // "0:00 Title" lines, as video descriptions take them; "_new.timestamps.txt"
    Qpfile, // x264's and x265's QP file, a keyframe a chapter; "_new.qpfile"
    PodcastChapters, // Podcasting 2.0 chapters JSON; "_new.json"
};

// The frame type a QP file forces at each chapter.
enum class QpFrameType {
    Keyframe, // K: IDR, or a recovery point with the encoder's open GOPs
    Idr, // I: always IDR
};

// Where a converted file goes.
enum class Destination {
    BesideInput, // the output path of the input, replaced atomically
    StandardOutput, // the process's standard output
    Nowhere, // converted and counted, not written
};

// The settings of one run. The window fills the first four from its controls when "Save" is
// pressed; the rest serve the command line.
struct ConvertOptions
{
    bool ShiftFrameRate = true; // move times from one frame rate to another (retiming)
    bool UseNameBox = false; // replace titles by the lines of NameBoxText
    QString NameBoxText; // one title a line, lines separated by CR LF; empty: no lines
    Tessaline::OutputEncoding OutputEncoding = Tessaline::OutputEncoding::Unicode;
    // The ANSI code page: for input without a byte order mark and the Ansi form.
    int codePage = systemAnsiCodePage();

    Retiming retiming; // with ShiftFrameRate: 30 fps to 29.97 fps unless set
    // With ShiftFrameRate: formats other than simple text, which carry true times, are retimed
    // too (the window's box applies to whatever is listed; the command line asks for a rate).
    bool retimeOtherFormats = true;
    qint64 offsetMs = 0; // added to every time after retiming
    // The video whose keyframes the chapters are snapped to, once retimed and offset (each moved
    // back onto the latest keyframe at most snapWindowMs before it); empty: none.
    QString snapKeyframes;
    qint64 snapWindowMs = kDefaultSnapWindowMs;
    ChapterFormat format = ChapterFormat::Simple;
    QString language = QStringLiteral("und"); // Matroska: the titles' language, a BCP 47 tag
    // QP file: the rate its frames are counted at; none: the rate retiming goes to.
    std::optional<FrameRate> frameRate;
    QpFrameType qpFrameType = QpFrameType::Keyframe;
    Tessaline::Destination destination = Tessaline::Destination::BesideInput;
    QString outputFolder; // where outputs are written under their names; empty: beside each input
    // The input format: chosen by each file's content when empty; "simple" or the name of an
    // input format reads every file as that format.
    QString inputFormat;
    ReadSettings read;
    // With UseNameBox: the lines of a names file, used instead of NameBoxText (a file of one
    // empty line has one line, which the box's text cannot say).
    std::optional<QStringList> nameFileLines;
};

} // namespace Tessaline
