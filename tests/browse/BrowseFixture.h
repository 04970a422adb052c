#pragma once

#include "RecordingProxy.h"
#include "support/ServerProcess.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// The real catalogue server and metadata site, each behind a recording proxy, with a small
// catalogue and site made for the browser's tests:
//   40 videos; searches pick groups of them:
//     "Caf"        three titles with numeric references: "Caf&#xE9;", "Caf&#233;", "Caf&#xe9;"
//     "Covered"    "Covered One" (0000001), "Covered Two" (0000002): site titles with posters
//     "Plain"      "Plain Without Poster" (0000006): a site title without a poster
//     "Blank"      "Blank Id Entry": no IMDb id
//     "Broken"     "Broken Page" (0000099, not on the site), "Broken Next" (0000003)
//     "Slow"       "Slow Cover" (0000004), whose poster the metadata proxy can hold back
//     "Remarkably" "Remarkably Long Title For A Small Cell Indeed", "Short" "Short"
//     "Filler"     the rest
// The client is pointed at the proxies (setting "DefaultServer", TAVILON_METADATA_URL) and
// keeps its covers in a fresh images folder (TAVILON_IMAGES_DIR) with the placeholder in it.
class TBrowseServers {
public:
    static constexpr int VideoCount = 40;

    // A title of the metadata site: tt<Id>/info.txt, and poster.png when Poster is set.
    struct TSiteTitle {
        QString Id;
        QString Title;
        bool Poster = true;
        QString Year;
        QString Plot;
    };
    // A video of the catalogue: imported with quality "DVD Rip" and language "English".
    struct TCatalogueVideo {
        QString Title;
        QString ImdbId;
        QStringList Links;
        QString Password;
    };

    // The site and catalogue above.
    TBrowseServers();
    // Another site and catalogue, for the windows built on the browser.
    TBrowseServers(const std::vector<TSiteTitle>& site, const std::vector<TCatalogueVideo>& videos);
    ~TBrowseServers();

    bool Started() const;
    QString Problem() const { return problem_; }

    QString ImagesDir() const { return imagesDir_; }
    QString SiteDir() const { return siteDir_; }
    // The poster bytes the site serves for an id that has one.
    QByteArray Poster(const QString& id) const;

    // The getvideos calls the catalogue proxy saw, in order.
    struct TPageRequest {
        qint64 start = -1;
        qint64 limit = -1;
        QString search;
        qint64 type = -1;
    };
    std::vector<TPageRequest> PageRequests() const;

    std::unique_ptr<TRecordingProxy> catalogueProxy;
    std::unique_ptr<TRecordingProxy> metadataProxy;

private:
    void Start(const std::vector<TSiteTitle>& site, const std::vector<TCatalogueVideo>& videos);

    std::unique_ptr<testenv::TServerProcess> catalogue_;
    std::unique_ptr<testenv::TServerProcess> metadata_;
    QString imagesDir_;
    QString siteDir_;
    QString problem_;
};
