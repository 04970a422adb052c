#pragma once

// Shared steps of the extractor's tests: a private copy of the extractor (its progress file is
// the one beside it), packing test data, running the extractor.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

#include "rar/ArchiveWriter.h"

namespace extractortest {

// A fresh folder holding a copy of bin/unrar/unrar; its progress file is <folder>/unrar.txt.
QString PrepareUnrarDir();

// A file of `size` pseudo-random bytes.
QString MakeDataFile(const QString& dir, const QString& name, std::int64_t size, unsigned seed);

// Packs `inputs` into `outDir` as base.part1.rar ...; returns the volume paths.
QStringList Pack(const std::vector<rar::PackInput>& inputs, const QString& outDir,
                 const QString& base, const rar::PackOptions& options);

// The arguments the client passes (TDecompressor's parameter text, split).
QStringList ClientArguments(const QString& firstVolume, std::int64_t available,
                            const QString& outputDir, const QString& password);

// Starts the extractor of `unrarDir` (not detached, so the test sees its end).
void StartExtractor(QProcess& process, const QString& unrarDir, const QStringList& arguments,
                    int idleTimeoutMs = 0);

// Waits for the extractor's end; returns its exit code (-1 on a crash or timeout).
int FinishExtractor(QProcess& process, int timeoutMs, std::string* errors = nullptr);

// Replaces the progress file's content.
void WriteProgress(const QString& unrarDir, const QByteArray& text);

// Runs the extractor on volumes that are all complete (the progress file tells the download
// ended); returns its exit code.
int ExtractComplete(const QString& unrarDir, const QString& firstVolume, const QString& outputDir,
                    const QString& password = QString(), std::string* errors = nullptr);

} // namespace extractortest
