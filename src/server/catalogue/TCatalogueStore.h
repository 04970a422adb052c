#pragma once

#include <type_traits>

#include "catalogue/TVideoRecord.h"
#include "server/catalogue/TDatabaseLocation.h"

#include <QCache>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The orders of getvideos, by their number on the wire.
enum class TSortOrder {
    AddedRecently = 0,     // newest id first
    MostViewed = 1,        // most plays counted by checkvideo first
    TopRated = 2,          // highest operator rating (0 to 10, 0 = unrated) first
    LatestProductions = 3, // latest production year (0 = unknown) first
    Alphabetically = 4     // case-folded title
};

struct TVideoSummary {
    qint64 Id = 0;
    QString Title;
    QString ImdbId;
    QString Quality;
    QString Lang;
    qint64 Plays = 0;
    int Rating = 0;
    int Year = 0;
};

struct TCataloguePage {
    qint64 Total = 0;
    std::vector<TVideoSummary> Videos;
};

// A video to store: its title and record, with the production year (0: taken from the year in
// the file name, when it has one) and the operator's rating.
struct TNewVideo {
    QString Title;
    TVideoRecord Record;
    int Year = 0;
    int Rating = 0;
};

// One connection to the catalogue database, SQLite or PostgreSQL through the same code: the
// statements differ only where the full-text search and the schema's types do. Not shared
// between threads; each serving thread opens its own. Every value reaches SQL as a bound
// parameter.
class TCatalogueStore {
public:
    static constexpr int MaxRating = 10;
    // Words of a search text that take part in the search; further words are ignored.
    static constexpr int MaxSearchWords = 16;
    // Searches whose ordered matches one connection keeps, and the most matches kept of one.
    static constexpr int CachedSearches = 64;
    static constexpr qsizetype MaxCachedMatches = 20000;

    // Opens the database (creating an SQLite file and its folder). Raises Exception.
    explicit TCatalogueStore(const TDatabaseLocation& location);
    ~TCatalogueStore();
    TCatalogueStore(const TCatalogueStore&) = delete;
    TCatalogueStore& operator=(const TCatalogueStore&) = delete;

    // Brings the schema to the newest version; each step runs in its own transaction.
    void Migrate();
    int SchemaVersion();

    // The words of a search text: runs of letters and digits, case-folded.
    static QStringList SearchWords(const QString& search);

    // The total of videos whose title holds every search word as the start of one of its
    // words, and the page [start, start + limit) of them in `order`.
    TCataloguePage Find(const QString& search, qint64 start, qint64 limit, TSortOrder order);
    // The id of a video with exactly this set of links (order and repetition aside).
    std::optional<qint64> FindByLinks(const QStringList& links);
    void CountPlay(qint64 id);
    // Stores the video and returns its new id.
    qint64 Add(const TNewVideo& video);
    // The password and the links in order, or nullopt for an unknown id.
    std::optional<std::pair<QString, QStringList>> VideoLines(qint64 id);
    // False for an unknown id.
    bool Remove(qint64 id);
    bool SetRating(qint64 id, int rating);
    bool SetYear(qint64 id, int year);
    std::vector<TVideoSummary> List();

    void Begin();
    void Commit();
    void Rollback();
    // Runs `work` in a transaction: committed when it returns, rolled back when it throws.
    template <typename Work> auto InTransaction(Work work) {
        Begin();
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                Commit();
            } else {
                auto result = work();
                Commit();
                return result;
            }
        } catch (...) {
            Rollback();
            throw;
        }
    }

    // The production year in a file name: the last group of exactly four digits from 1900 to
    // 2099; 0 when there is none.
    static int YearInFileName(const QString& fileName);
    // The key the set of links is found by.
    static QString LinksKey(const QStringList& links);

private:
    QSqlQuery& Prepared(const QString& sql);
    QSqlQuery& Run(const QString& sql, const QVariantList& values);
    void Execute(const QString& sql);
    bool Update(const QString& sql, const QVariantList& values);
    // The number of videos and the change counter.
    std::pair<qint64, qint64> Stats();
    // Counts a change of the catalogue (inside the change's transaction).
    void Changed();
    QString MatchExpression(const QStringList& words) const;
    // The ids of the matches in `order`; nullopt when there are more than MaxCachedMatches.
    std::optional<QList<qint64>> OrderedMatches(const QString& match, TSortOrder order);
    // The videos of `ids`, in that order.
    std::vector<TVideoSummary> Summaries(const QList<qint64>& ids);
    bool IsSQLite() const { return kind_ == TDatabaseLocation::TKind::SQLite; }

    TDatabaseLocation::TKind kind_;
    QString connectionName_;
    QSqlDatabase db_;
    QHash<QString, QSqlQuery> statements_;
    int transactionDepth_ = 0;
    QCache<QString, QList<qint64>> searchCache_{CachedSearches};
    qint64 cacheVersion_ = -1;
};
