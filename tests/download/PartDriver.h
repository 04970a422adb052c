#pragma once

#include "download/TMultipartHttpDownloader.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

// Drives a multipart transfer the way the volume downloader does: after every finished range,
// up to `running` ranges run, always the earliest ones not started yet. Records the end.
class TPartDriver {
public:
    explicit TPartDriver(TMultipartHttpDownloader& downloader, int running = 11)
        : downloader_(downloader), running_(running) {
        downloader_.SetOnRequestPartDone(
            [this](TMultipartHttpDownloader*, int, const QString&, int index) {
                partsDone.push_back(index);
                StartMore();
            });
        downloader_.SetOnRequestDone(
            [this](TMultipartHttpDownloader*, int code, const QString& reason) {
                ++doneCount;
                doneCode = code;
                doneReason = reason;
            });
    }

    void StartMore() {
        const auto& parts = downloader_.Parts();
        int active = 0;
        for (const TMyHttpCli* part : parts)
            if (part->Started() && !part->Done)
                ++active;
        for (TMyHttpCli* part : parts) {
            if (active >= running_)
                break;
            if (!part->Started()) {
                part->GetASync();
                if (!part->Done)
                    ++active;
            }
        }
    }

    std::vector<int> partsDone;
    int doneCount = 0;
    int doneCode = -1;
    QString doneReason;

private:
    TMultipartHttpDownloader& downloader_;
    int running_;
};
