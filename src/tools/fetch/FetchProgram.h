#pragma once

#include "core/UserInteraction.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>

class TPlayer;

// What tavilon-fetch was asked to do.
struct TFetchOptions {
    QString user;
    QString password;
    QString compressedDir;
    QString uncompressedDir;
    // Yes answers to the link check's retry question before the answer is No.
    int retries = 0;
    // The video's lines: links and an optional "password:" line.
    QStringList lines;
};

// The headless playback: logs in, runs the playback controller's pipeline without the player
// window and reports on standard output:
//   volume <i>/<n> <percent>% <speed> overall <percent>%   once a second
//   playable <seconds> <path>                              at the first ready notification
//   done <seconds> <path>                                  once the video is complete
// Questions are answered from the options; notices go to standard error.
class TFetchProgram : public QObject, public IUserInteraction {
    Q_OBJECT

public:
    // How often the end of the extraction is looked for once the volumes are in.
    static constexpr int CompletionCheckMs = 200;
    // The extraction counts as stopped when the video did not grow for this long.
    static constexpr int StallLimitMs = 120000;

    explicit TFetchProgram(TFetchOptions options);
    ~TFetchProgram() override;

    // Logs in and starts the download; the event loop does the rest and ends with the exit
    // code. Raises on a failure before the download starts.
    void Start();

    void ShowMessage(const QString& text) override;
    void ShowError(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    bool AskText(const QString& caption, const QString& prompt, QString& value) override;
    void ShowStatus(const QString& text) override;
    void HideStatus() override;

private:
    void Progress(const QString& speedText, const QString& percentText);
    void VideoFileReady(const QString& fileName);
    void CheckCompletion();
    void Fail(const QString& message);
    void Finish(int exitCode);
    double Seconds() const;

    TFetchOptions options_;
    TPlayer* player_ = nullptr;
    QElapsedTimer clock_;
    QTextStream out_;
    QTextStream err_;
    bool playable_ = false;
    bool ended_ = false;
    int retriesLeft_ = 0;
    int64_t lastSize_ = -1;
    QElapsedTimer sinceGrowth_;
};
