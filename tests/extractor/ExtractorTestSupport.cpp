#include "ExtractorTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <gtest/gtest.h>
#include <random>

#include "extract/CommandLine.h"
#include "extract/TDecompressor.h"
#include "support/TestEnvironment.h"

namespace extractortest {

QString PrepareUnrarDir() {
    const QString dir = testenv::MakeTempDir(QStringLiteral("unrar"));
    const QString source = testenv::BinDir() + QStringLiteral("/unrar/unrar");
    const QString target = dir + QStringLiteral("/unrar");
    EXPECT_TRUE(QFile::copy(source, target)) << source.toStdString();
    QFile::setPermissions(target, QFile::permissions(source) | QFile::ExeOwner);
    return dir + QLatin1Char('/');
}

QString MakeDataFile(const QString& dir, const QString& name, std::int64_t size, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray data(size, Qt::Uninitialized);
    for (auto& c : data)
        c = static_cast<char>(random());
    const QString path = QDir(dir).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
    return path;
}

QStringList Pack(const std::vector<rar::PackInput>& inputs, const QString& outDir,
                 const QString& base, const rar::PackOptions& options) {
    QStringList out;
    QDir().mkpath(outDir);
    for (const std::string& p :
         rar::PackArchive(inputs, outDir.toStdString(), base.toStdString(), options))
        out.append(QString::fromStdString(p));
    return out;
}

QStringList ClientArguments(const QString& firstVolume, std::int64_t available,
                            const QString& outputDir, const QString& password) {
    auto* d = new TDecompressor();
    d->SetOutputDirectory(outputDir);
    d->SetArchivePassword(password);
    d->SetUnrarDirectory(QStringLiteral("/nonexistent/"));
    const QStringList arguments = SplitCommandLine(d->ExtractorParameters(firstVolume, available));
    d->Release();
    return arguments;
}

void StartExtractor(QProcess& process, const QString& unrarDir, const QStringList& arguments,
                    int idleTimeoutMs) {
    if (idleTimeoutMs > 0) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TAVILON_UNRAR_IDLE_TIMEOUT_MS"), QString::number(idleTimeoutMs));
        process.setProcessEnvironment(env);
    }
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(unrarDir + QStringLiteral("unrar"), arguments);
    ASSERT_TRUE(process.waitForStarted(10000));
}

int FinishExtractor(QProcess& process, int timeoutMs, std::string* errors) {
    const bool finished =
        process.state() == QProcess::NotRunning || process.waitForFinished(timeoutMs);
    const QByteArray err = process.readAllStandardError();
    if (errors != nullptr)
        *errors = err.toStdString();
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
        ADD_FAILURE() << "the extractor did not end; it said:\n" << err.toStdString();
        return -1;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "the extractor crashed; it said:\n" << err.toStdString();
        return -1;
    }
    return process.exitCode();
}

void WriteProgress(const QString& unrarDir, const QByteArray& text) {
    QFile progress(unrarDir + QStringLiteral("unrar.txt"));
    EXPECT_TRUE(progress.open(QIODevice::WriteOnly | QIODevice::Truncate));
    progress.write(text);
}

int ExtractComplete(const QString& unrarDir, const QString& firstVolume, const QString& outputDir,
                    const QString& password, std::string* errors) {
    WriteProgress(unrarDir, "1\r\n");
    QProcess process;
    StartExtractor(process, unrarDir,
                   ClientArguments(firstVolume, QFileInfo(firstVolume).size(), outputDir, password));
    // The client's last notification, a 0 after the last volume's count, repeated until the
    // extractor has surely seen it.
    for (int i = 0; i < 1200 && process.state() != QProcess::NotRunning &&
                    !process.waitForFinished(100);
         ++i)
        WriteProgress(unrarDir, "0\r\n");
    return FinishExtractor(process, 1000, errors);
}

} // namespace extractortest
