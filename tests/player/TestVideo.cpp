#include "player/TestVideo.h"

#include <QFile>
#include <QProcess>
#include <algorithm>

namespace testenv {

namespace {

constexpr int kFfmpegTimeoutMs = 120000;
// About what a real video has, so that the player reads it in many blocks.
constexpr const char* kVideoBitRate = "1500k";
// A key frame every second (at 25 frames a second), as a video made for seeking has.
constexpr const char* kKeyFrameInterval = "25";

// Runs ffmpeg; its standard error when it fails, or empty.
QString RunFfmpeg(const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-hide_banner", "-nostdin"} + arguments);
    if (!ffmpeg.waitForFinished(kFfmpegTimeoutMs))
        return QStringLiteral("ffmpeg did not run: ") + ffmpeg.errorString();
    if (output)
        *output = ffmpeg.readAllStandardOutput();
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0)
        return QStringLiteral("ffmpeg failed: ") +
               QString::fromLocal8Bit(ffmpeg.readAllStandardError());
    return {};
}

} // namespace

bool HasEncoder(const QString& encoder) {
    QByteArray list;
    if (!RunFfmpeg({"-encoders"}, &list).isEmpty())
        return false;
    return list.contains(" " + encoder.toLatin1() + " ");
}

QString MakeTestVideo(const TTestVideo& video, const QString& path, int seconds) {
    const QString duration = QString::number(seconds);
    const QStringList muxerOptions =
        QString::fromLatin1(video.muxerOptions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return RunFfmpeg(QStringList{"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                 "testsrc2=duration=" + duration + ":size=320x240:rate=25", "-f",
                                 "lavfi", "-i", "sine=duration=" + duration, "-c:v",
                                 video.videoEncoder, "-b:v", kVideoBitRate, "-g", kKeyFrameInterval,
                                 "-c:a", video.audioEncoder} +
                     muxerOptions + QStringList{path});
}

TGrowingFileWriter::TGrowingFileWriter(const QString& from, QString to, TWrittenEvent onWritten)
    : to_(std::move(to)), onWritten_(std::move(onWritten)) {
    QFile source(from);
    if (source.open(QIODevice::ReadOnly))
        content_ = source.readAll();
    QFile target(to_);
    if (target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        target.close();
    QObject::connect(&trickle_, &QTimer::timeout, [this] {
        WriteUpTo(written_ + trickleChunk_);
        if (Complete())
            trickle_.stop();
    });
}

void TGrowingFileWriter::WriteUpTo(int64_t size) {
    size = std::clamp<int64_t>(size, written_, FinalSize());
    QFile target(to_);
    if (size == written_ || !target.open(QIODevice::Append))
        return;
    target.write(content_.constData() + written_, size - written_);
    target.close();
    written_ = size;
    if (onWritten_)
        onWritten_(written_);
}

void TGrowingFileWriter::Trickle(int64_t chunk, int intervalMs) {
    trickleChunk_ = std::max<int64_t>(chunk, 1);
    trickle_.start(intervalMs);
}

} // namespace testenv
