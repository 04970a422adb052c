#include "extract/TDecompressor.h"

#include "core/Errors.h"
#include "core/UserInteraction.h"
#include "extract/CommandLine.h"
#include "extract/TRAR.h"
#include "rar/EntryName.h"
#include "rar/ExtractorProtocol.h"
#include "rar/VolumeNaming.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <limits>

namespace {

// The snapshot of the first volume, beside it.
const char kSnapshotName[] = "temp.rar";
// Bytes copied at a time by CopyGrowingFile.
constexpr qint64 kCopyPiece = 8192;

const char kPasswordCaption[] = "Enter RAR password:";
const char kPasswordPrompt[] = "Password";

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

// A quoted path of the parameter text; a double quote inside is written doubled.
QString QuotedPath(const QString& path) {
    QString out = path;
    out.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

TDecompressor::TDecompressor(QObject* owner)
    : IVideoExtraction(owner), RAR(std::make_unique<TRAR>()) {
    RAR->SetReadMultiVolumeToEnd(false);
    RAR->SetOnListFile([this](TRAR*, const TRARFileItem& item) { RARListFile(item); });
    RAR->SetOnPasswordRequired(
        [this](TRAR*, bool header, const QString& name, QString& password, bool& cancel) {
            RARPasswordRequired(header, name, password, cancel);
        });
}

TDecompressor::~TDecompressor() {
    try {
        WriteProgressFile(extractor::kStopValue);
    } catch (const std::exception&) {
        // The folder may be gone; nothing is left to tell.
    }
    RAR.reset();
}

void TDecompressor::Release() {
    setParent(nullptr);
    releaseRequested_ = true;
    if (activeCalls_ == 0)
        delete this;
}

void TDecompressor::LeaveCall() {
    if (--activeCalls_ == 0 && releaseRequested_)
        delete this;
}

void TDecompressor::SetExtractedFileName(const QString& name) {
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (n.isEmpty()) {
        extractedFileName_.clear();
        return;
    }
    std::string why;
    if (!rar::IsSafeEntryName(n.toStdString(), why))
        return;
    extractedFileName_ = QString::fromStdString(rar::NormalizedEntryName(n.toStdString()));
}

void TDecompressor::DataAvailable(const QString& fileName, std::int64_t available) {
    if (busy_)
        return;
    busy_ = true;
    ++activeCalls_;
    try {
        HandleDataAvailable(fileName, available);
    } catch (...) {
        busy_ = false;
        LeaveCall(); // may delete this
        throw;
    }
    busy_ = false;
    LeaveCall(); // may delete this
}

void TDecompressor::HandleDataAvailable(const QString& fileName, std::int64_t available) {
    // Only RAR volumes concern the decompressor (a volume may itself be a playable video).
    const std::string volume = fileName.toStdString();
    if (!rar::IsVolumeName(volume))
        return;
    const bool firstVolume = rar::IsFirstVolumeName(volume);
    if (extractedFileName_.isEmpty()) {
        if (!firstVolume) {
            if (!firstVolumeMissingReported_) {
                firstVolumeMissingReported_ = true;
                UserInteraction().ShowMessage(
                    QStringLiteral("The first volume of the archive could not be downloaded; "
                                   "the video cannot be extracted."));
            }
            return;
        }
        ListSnapshot(fileName);
    }
    if (extractedFileName_.isEmpty())
        return;
    WriteProgressFile(available);
    if (extractorStarted_ || !firstVolume)
        return;
    const QString program = unrarDirectory_ + QLatin1String(extractor::kExtractorProgramName);
    extractorStarted_ = true;
    if (!RunProgram(program, SplitCommandLine(ExtractorParameters(fileName, available)),
                    &extractorProcessId_))
        UserInteraction().ShowMessage(
            QStringLiteral("The extractor could not be started: %1").arg(program));
}

void TDecompressor::ListSnapshot(const QString& fileName) {
    const QString target = FolderOf(fileName) + QLatin1String(kSnapshotName);
    try {
        CopyGrowingFile(fileName, target);
        RAR->OpenFile(target);
    } catch (...) {
        QFile::remove(target);
        throw;
    }
    QFile::remove(target);
}

QString TDecompressor::ExtractorParameters(const QString& firstVolume,
                                           std::int64_t available) const {
    QString text = QStringLiteral("x -y -dh -kb ");
    if (!archivePassword_.isEmpty())
        text += QStringLiteral(" -p") + QuoteArgument(archivePassword_.trimmed());
    text += QStringLiteral(" -idp -ss") + QString::number(available);
    text += QLatin1Char(' ') + QuotedPath(firstVolume) + QLatin1Char(' ') +
            QuotedPath(outputDirectory_);
    return text;
}

bool TDecompressor::RunProgram(const QString& program, const QStringList& arguments,
                               qint64* processId) {
    return QProcess::startDetached(program, arguments, QFileInfo(program).absolutePath(),
                                   processId);
}

bool TDecompressor::AskPassword(QString& password) {
    ++activeCalls_;
    bool confirmed = false;
    try {
        password.clear();
        confirmed = UserInteraction().AskText(QLatin1String(kPasswordCaption),
                                              QLatin1String(kPasswordPrompt), password);
    } catch (...) {
        --activeCalls_;
        throw;
    }
    --activeCalls_;
    return confirmed;
}

void TDecompressor::RARListFile(const TRARFileItem& item) {
    const std::int64_t size =
        item.UnCompressedSize > static_cast<quint64>(std::numeric_limits<std::int64_t>::max())
            ? std::numeric_limits<std::int64_t>::max()
            : static_cast<std::int64_t>(item.UnCompressedSize);
    if (size <= largestSize_)
        return;
    QString name = item.FileName;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    std::string why;
    if (!rar::IsSafeEntryName(name.toStdString(), why))
        return; // never deleted, never played: it would lie outside OutputDirectory
    if (item.Encrypted && archivePassword_.isEmpty()) {
        QString password;
        if (AskPassword(password))
            archivePassword_ = password;
    }
    extractedFileName_ = QString::fromStdString(rar::NormalizedEntryName(name.toStdString()));
    // A leftover of an earlier playback; only below OutputDirectory, never through a link.
    const QString path = ExtractedFilePath();
    const QString root = QFileInfo(outputDirectory_).canonicalFilePath();
    const QString parent = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    if (!root.isEmpty() && (parent == root || parent.startsWith(root + QLatin1Char('/'))))
        QFile::remove(path);
    largestSize_ = size;
}

void TDecompressor::RARPasswordRequired(bool, const QString&, QString& newPassword, bool& cancel) {
    newPassword.clear();
    QString password;
    if (AskPassword(password)) {
        archivePassword_ = password;
        newPassword = password;
        cancel = false;
    } else {
        cancel = true;
    }
}

void TDecompressor::WriteProgressFile(std::int64_t value) {
    // Without a folder there is no extractor to tell, and nowhere we were given to write.
    if (unrarDirectory_.isEmpty())
        return;
    const QString path = unrarDirectory_ + QLatin1String(extractor::kProgressFileName);
    QFile file(path);
    const bool exists = file.exists();
    const QByteArray data = QByteArray::fromStdString(extractor::ProgressFileText(value, exists));
    if (!exists) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            throw Exception(
                QStringLiteral("Cannot create file %1: %2").arg(path, file.errorString()));
    } else {
        // ReadWrite: opened without being shortened; the value overwrites the first bytes.
        if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            throw Exception(
                QStringLiteral("Cannot open file %1: %2").arg(path, file.errorString()));
    }
    if (file.write(data) != data.size())
        throw Exception(QStringLiteral("Cannot write file %1: %2").arg(path, file.errorString()));
    file.close();
}

void TDecompressor::CopyGrowingFile(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw Exception(QStringLiteral("Cannot open file %1: %2").arg(source, in.errorString()));
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Exception(QStringLiteral("Cannot create file %1: %2").arg(target, out.errorString()));
    QByteArray piece(kCopyPiece, Qt::Uninitialized);
    qint64 copied = 0;
    while (QFileInfo(source).size() > copied) {
        const qint64 n = in.read(piece.data(), kCopyPiece);
        if (n <= 0)
            break; // the size shrank or the read failed: the copy ends here
        if (out.write(piece.constData(), n) != n)
            throw Exception(
                QStringLiteral("Cannot write file %1: %2").arg(target, out.errorString()));
        copied += n;
    }
}
