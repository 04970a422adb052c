#include "tools/fetch/FetchProgram.h"

#include "api/Ttavilonapi.h"
#include "core/Errors.h"
#include "core/Utils.h"
#include "download/TDownloader.h"
#include "download/TMultipartHttpDownloader.h"
#include "extract/TDecompressor.h"
#include "platform/OptionDefaults.h"
#include "platform/OptionsManager.h"
#include "playback/TPlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>

namespace {

// True while an extractor process that writes into `outputDirectory` still runs (read from
// /proc; where there is none, the size of the video alone decides).
bool ExtractorRunning(const QString& program, const QString& outputDirectory) {
    const QDir proc(QStringLiteral("/proc"));
    if (!proc.exists())
        return false;
    const QByteArray output = QFile::encodeName(outputDirectory);
    const QString target = QFileInfo(program).canonicalFilePath();
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toLongLong(&numeric);
        if (!numeric)
            continue;
        if (QFileInfo(proc.filePath(pid + QStringLiteral("/exe"))).canonicalFilePath() != target)
            continue;
        QFile cmdline(proc.filePath(pid + QStringLiteral("/cmdline")));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(output))
            return true;
    }
    return false;
}

} // namespace

TFetchProgram::TFetchProgram(TFetchOptions options)
    : options_(std::move(options)), out_(stdout), err_(stderr) {
    retriesLeft_ = options_.retries;
    SetUserInteraction(this);
}

TFetchProgram::~TFetchProgram() {
    if (player_)
        player_->Release();
    SetUserInteraction(nullptr);
}

double TFetchProgram::Seconds() const {
    return clock_.nsecsElapsed() / 1e9;
}

void TFetchProgram::Start() {
    clock_.start();
    TOptionValues* login = OptionsManager().FindSection(LoginSection);
    if (!login)
        throw Exception(QStringLiteral("The settings have no account section."));
    // The account of the command line, for this run only: nothing is saved.
    login->SetString(QStringLiteral("Username"), options_.user);
    login->SetString(QStringLiteral("Password"), options_.password);
    if (!options_.compressedDir.isEmpty())
        tavilonapi->Folders.CompressedDir = QDir(options_.compressedDir).absolutePath() + QLatin1Char('/');
    if (!options_.uncompressedDir.isEmpty())
        tavilonapi->Folders.UncompressedDir =
            QDir(options_.uncompressedDir).absolutePath() + QLatin1Char('/');
    CreateDirectory(tavilonapi->Folders.CompressedDir);
    CreateDirectory(tavilonapi->Folders.UncompressedDir);

    if (!tavilonapi->Login())
        throw Exception(QStringLiteral("Couldn't login with the username and password you "
                                       "provided, please, check and try again"));

    player_ = tavilonapi->NewPlayer();
    player_->SetOnProgress([this](const QString&, const QString&, const QString& speedText,
                                  const QString& percentText, const QString&, int,
                                  int) { Progress(speedText, percentText); });
    player_->SetOnVideoFileReady(
        [this](TDownloader*, const QString& fileName) { VideoFileReady(fileName); });
    for (const QString& line : options_.lines) {
        if (line.startsWith(QLatin1String("password:")))
            player_->ArchivePassword = line.mid(9);
        else if (!TrimText(line).isEmpty())
            player_->Links << line;
    }
    if (player_->Links.isEmpty())
        throw Exception(QStringLiteral("No links given."));
    player_->Start();

    auto* completion = new QTimer(this);
    connect(completion, &QTimer::timeout, this, [this] { CheckCompletion(); });
    completion->start(CompletionCheckMs);
}

void TFetchProgram::Progress(const QString& speedText, const QString& percentText) {
    TDownloader* downloader = player_ ? player_->Downloader() : nullptr;
    if (!downloader || ended_)
        return;
    out_ << QStringLiteral("volume %1/%2 %3 %4 overall %5%")
                .arg(downloader->VolumeIndex() + 1)
                .arg(downloader->Links.size())
                .arg(percentText.trimmed(), speedText.trimmed())
                .arg(downloader->OverallPercent(), 0, 'f', 1)
         << Qt::endl;
}

void TFetchProgram::VideoFileReady(const QString& fileName) {
    if (playable_ || ended_)
        return;
    playable_ = true;
    out_ << QStringLiteral("playable %1 %2").arg(Seconds(), 0, 'f', 3).arg(fileName) << Qt::endl;
}

// Done once every volume is in and the video is complete: its expected size reached and the
// extractor ended (a playable volume needs no extractor).
void TFetchProgram::CheckCompletion() {
    if (ended_ || !player_)
        return;
    TDownloader* downloader = player_->Downloader();
    TDecompressor* decompressor = player_->Decompressor();
    if (!downloader || !decompressor || !downloader->Finished())
        return;
    if (!downloader->SkippedVolumes().isEmpty()) {
        QStringList volumes;
        for (const int volume : downloader->SkippedVolumes())
            volumes << QString::number(volume);
        Fail(QStringLiteral("Volume %1 could not be downloaded.")
                 .arg(volumes.join(QStringLiteral(", "))));
        return;
    }
    const QString path = decompressor->ExtractedFilePath();
    if (path.isEmpty()) {
        Fail(QStringLiteral("The archive could not be listed (a password may be missing)."));
        return;
    }
    const QFileInfo info(path);
    const int64_t size = info.exists() ? info.size() : -1;
    const bool extracted = decompressor->LargestSize() > 0;
    if (size != lastSize_) {
        lastSize_ = size;
        sinceGrowth_.start();
    }
    const int64_t expected = extracted ? decompressor->LargestSize() : size;
    if (size >= 0 && size == expected &&
        (!extracted || !ExtractorRunning(tavilonapi->Folders.UnrarDir + QStringLiteral("unrar"),
                                         decompressor->OutputDirectory()))) {
        VideoFileReady(path);
        out_ << QStringLiteral("done %1 %2").arg(Seconds(), 0, 'f', 3).arg(path) << Qt::endl;
        Finish(0);
        return;
    }
    if (sinceGrowth_.isValid() && sinceGrowth_.elapsed() > StallLimitMs)
        Fail(QStringLiteral("The extraction stopped at %1 of %2 bytes.").arg(size).arg(expected));
}

void TFetchProgram::Fail(const QString& message) {
    if (ended_)
        return;
    err_ << QStringLiteral("tavilon-fetch: ") << message << Qt::endl;
    Finish(1);
}

void TFetchProgram::Finish(int exitCode) {
    ended_ = true;
    QCoreApplication::exit(exitCode);
}

void TFetchProgram::ShowMessage(const QString& text) {
    err_ << text << Qt::endl;
}

void TFetchProgram::ShowError(const QString& text) {
    Fail(text);
}

bool TFetchProgram::AskYesNo(const QString& text) {
    err_ << text << (retriesLeft_ > 0 ? " Yes" : " No") << Qt::endl;
    if (retriesLeft_ <= 0)
        return false;
    --retriesLeft_;
    return true;
}

bool TFetchProgram::AskText(const QString& caption, const QString&, QString&) {
    err_ << caption << QStringLiteral(" (no answer: give the video's \"password:\" line)")
         << Qt::endl;
    return false;
}

void TFetchProgram::ShowStatus(const QString& text) {
    err_ << text << Qt::endl;
}

void TFetchProgram::HideStatus() {}
