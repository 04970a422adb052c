#include "server/catalogue/TCatalogueStore.h"

#include "core/Errors.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <atomic>

namespace {

std::atomic<int> connectionCounter{0};

// Milliseconds SQLite waits for a lock another connection holds.
constexpr int SQLiteBusyTimeoutMs = 10000;
// Page cache of one SQLite connection, and how much of the file it maps.
constexpr int SQLiteCacheKiB = 32 * 1024;
constexpr qint64 SQLiteMapBytes = 256LL * 1024 * 1024;
// Longest word of a search that takes part in it.
constexpr int MaxSearchWordLength = 64;

struct TMigration {
    int version;
    QStringList sqlite;
    QStringList postgresql;
};

const std::vector<TMigration>& Migrations() {
    static const std::vector<TMigration> migrations = {
        {1,
         {QStringLiteral("CREATE TABLE videos ("
                         " id INTEGER PRIMARY KEY AUTOINCREMENT,"
                         " title TEXT NOT NULL, title_key TEXT NOT NULL,"
                         " imdbid TEXT NOT NULL DEFAULT '', password TEXT NOT NULL DEFAULT '',"
                         " size TEXT NOT NULL DEFAULT '', file TEXT NOT NULL DEFAULT '',"
                         " quality TEXT NOT NULL DEFAULT '', lang TEXT NOT NULL DEFAULT '',"
                         " year INTEGER NOT NULL DEFAULT 0, rating INTEGER NOT NULL DEFAULT 0,"
                         " plays INTEGER NOT NULL DEFAULT 0, added_at INTEGER NOT NULL,"
                         " links_key TEXT NOT NULL)"),
          QStringLiteral("CREATE TABLE video_links (video_id INTEGER NOT NULL, position INTEGER "
                         "NOT NULL, url TEXT NOT NULL, PRIMARY KEY (video_id, position))"),
          QStringLiteral("CREATE VIRTUAL TABLE videos_fts USING fts5(title, content='videos', "
                         "content_rowid='id', prefix='1 2 3')"),
          QStringLiteral("CREATE TRIGGER videos_fts_insert AFTER INSERT ON videos BEGIN "
                         "INSERT INTO videos_fts(rowid, title) VALUES (new.id, new.title); END"),
          QStringLiteral("CREATE TRIGGER videos_fts_delete AFTER DELETE ON videos BEGIN "
                         "INSERT INTO videos_fts(videos_fts, rowid, title) "
                         "VALUES ('delete', old.id, old.title); END"),
          QStringLiteral("CREATE TRIGGER videos_fts_update AFTER UPDATE OF title ON videos BEGIN "
                         "INSERT INTO videos_fts(videos_fts, rowid, title) "
                         "VALUES ('delete', old.id, old.title); "
                         "INSERT INTO videos_fts(rowid, title) VALUES (new.id, new.title); END"),
          QStringLiteral("CREATE TABLE catalogue_stats (id INTEGER PRIMARY KEY, videos INTEGER "
                         "NOT NULL)"),
          QStringLiteral("INSERT INTO catalogue_stats (id, videos) VALUES (1, 0)"),
          QStringLiteral("CREATE INDEX videos_by_links ON videos (links_key)"),
          QStringLiteral("CREATE INDEX videos_by_plays ON videos (plays DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_rating ON videos (rating DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_year ON videos (year DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_title ON videos (title_key, id)")},
         {QStringLiteral("CREATE TABLE videos ("
                         " id BIGSERIAL PRIMARY KEY,"
                         " title TEXT NOT NULL, title_key TEXT NOT NULL COLLATE \"C\","
                         " imdbid TEXT NOT NULL DEFAULT '', password TEXT NOT NULL DEFAULT '',"
                         " size TEXT NOT NULL DEFAULT '', file TEXT NOT NULL DEFAULT '',"
                         " quality TEXT NOT NULL DEFAULT '', lang TEXT NOT NULL DEFAULT '',"
                         " year INTEGER NOT NULL DEFAULT 0, rating INTEGER NOT NULL DEFAULT 0,"
                         " plays BIGINT NOT NULL DEFAULT 0, added_at BIGINT NOT NULL,"
                         " links_key TEXT NOT NULL,"
                         " search tsvector GENERATED ALWAYS AS (to_tsvector('simple', title)) "
                         "STORED)"),
          QStringLiteral("CREATE TABLE video_links (video_id BIGINT NOT NULL, position INTEGER "
                         "NOT NULL, url TEXT NOT NULL, PRIMARY KEY (video_id, position))"),
          QStringLiteral("CREATE INDEX videos_search ON videos USING GIN (search)"),
          QStringLiteral("CREATE TABLE catalogue_stats (id INTEGER PRIMARY KEY, videos BIGINT "
                         "NOT NULL)"),
          QStringLiteral("INSERT INTO catalogue_stats (id, videos) VALUES (1, 0)"),
          QStringLiteral("CREATE INDEX videos_by_links ON videos (links_key)"),
          QStringLiteral("CREATE INDEX videos_by_plays ON videos (plays DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_rating ON videos (rating DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_year ON videos (year DESC, id DESC)"),
          QStringLiteral("CREATE INDEX videos_by_title ON videos (title_key, id)")}},
        // A counter of changes, so that servers know when what they keep of searches is old.
        {2,
         {QStringLiteral(
             "ALTER TABLE catalogue_stats ADD COLUMN version BIGINT NOT NULL DEFAULT 0")},
         {QStringLiteral(
             "ALTER TABLE catalogue_stats ADD COLUMN version BIGINT NOT NULL DEFAULT 0")}},
    };
    return migrations;
}

QString OrderClause(TSortOrder order) {
    switch (order) {
    case TSortOrder::MostViewed:
        return QStringLiteral("plays DESC, id DESC");
    case TSortOrder::TopRated:
        return QStringLiteral("rating DESC, id DESC");
    case TSortOrder::LatestProductions:
        return QStringLiteral("year DESC, id DESC");
    case TSortOrder::Alphabetically:
        return QStringLiteral("title_key, id");
    case TSortOrder::AddedRecently:
        break;
    }
    return QStringLiteral("id DESC");
}

// A null text would be stored as NULL; the schema wants empty text.
QString Text(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

[[noreturn]] void DatabaseFailure(const QSqlError& error) {
    throw Exception(QStringLiteral("The catalogue database failed: ") + error.text());
}

} // namespace

TCatalogueStore::TCatalogueStore(const TDatabaseLocation& location)
    : kind_(location.Kind),
      connectionName_(QStringLiteral("catalogue-%1").arg(connectionCounter.fetch_add(1))) {
    if (IsSQLite()) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
        const QFileInfo file(location.Path);
        QDir().mkpath(file.absolutePath());
        db_.setDatabaseName(location.Path);
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(SQLiteBusyTimeoutMs));
    } else {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
        db_.setHostName(location.Host);
        db_.setPort(location.Port);
        db_.setUserName(location.User);
        db_.setPassword(location.Password);
        db_.setDatabaseName(location.Database);
        db_.setConnectOptions(location.Options);
    }
    if (!db_.isValid())
        throw Exception(
            QStringLiteral("The database driver for %1 is not installed").arg(location.Describe()));
    if (!db_.open())
        throw Exception(QStringLiteral("Cannot open the catalogue database %1: %2")
                            .arg(location.Describe(), db_.lastError().text()));
    if (IsSQLite()) {
        Execute(QStringLiteral("PRAGMA journal_mode=WAL"));
        Execute(QStringLiteral("PRAGMA synchronous=NORMAL"));
        Execute(QStringLiteral("PRAGMA cache_size=-%1").arg(SQLiteCacheKiB));
        Execute(QStringLiteral("PRAGMA mmap_size=%1").arg(SQLiteMapBytes));
    } else {
        Execute(QStringLiteral("SET client_min_messages TO WARNING"));
    }
}

TCatalogueStore::~TCatalogueStore() {
    statements_.clear();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

void TCatalogueStore::Execute(const QString& sql) {
    QSqlQuery query(db_);
    if (!query.exec(sql))
        DatabaseFailure(query.lastError());
}

QSqlQuery& TCatalogueStore::Prepared(const QString& sql) {
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            DatabaseFailure(query.lastError());
        it = statements_.insert(sql, query);
    }
    return it.value();
}

QSqlQuery& TCatalogueStore::Run(const QString& sql, const QVariantList& values) {
    QSqlQuery& query = Prepared(sql);
    for (int i = 0; i < values.size(); ++i)
        query.bindValue(i, values[i]);
    if (!query.exec())
        DatabaseFailure(query.lastError());
    return query;
}

void TCatalogueStore::Begin() {
    if (transactionDepth_++ == 0 && !db_.transaction())
        DatabaseFailure(db_.lastError());
}

void TCatalogueStore::Commit() {
    if (--transactionDepth_ == 0 && !db_.commit())
        DatabaseFailure(db_.lastError());
}

void TCatalogueStore::Rollback() {
    if (transactionDepth_ > 0 && --transactionDepth_ == 0)
        db_.rollback();
}

int TCatalogueStore::SchemaVersion() {
    Execute(QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY "
                           "KEY, applied_at BIGINT NOT NULL)"));
    QSqlQuery query(db_);
    if (!query.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM schema_migrations")))
        DatabaseFailure(query.lastError());
    return query.next() ? query.value(0).toInt() : 0;
}

void TCatalogueStore::Migrate() {
    const int current = SchemaVersion();
    for (const TMigration& migration : Migrations()) {
        if (migration.version <= current)
            continue;
        InTransaction([&] {
            for (const QString& sql : IsSQLite() ? migration.sqlite : migration.postgresql)
                Execute(sql);
            QSqlQuery query(db_);
            query.prepare(QStringLiteral(
                "INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"));
            query.addBindValue(migration.version);
            query.addBindValue(QDateTime::currentSecsSinceEpoch());
            if (!query.exec())
                DatabaseFailure(query.lastError());
        });
    }
}

QStringList TCatalogueStore::SearchWords(const QString& search) {
    QStringList words;
    QString word;
    const auto flush = [&] {
        if (!word.isEmpty() && words.size() < MaxSearchWords)
            words.append(word.left(MaxSearchWordLength).toCaseFolded());
        word.clear();
    };
    for (const QChar c : search) {
        if (c.isLetterOrNumber() || c.category() == QChar::Mark_NonSpacing)
            word += c;
        else
            flush();
    }
    flush();
    return words;
}

namespace {

TVideoSummary ReadSummary(const QSqlQuery& query) {
    TVideoSummary video;
    video.Id = query.value(0).toLongLong();
    video.Title = query.value(1).toString();
    video.ImdbId = query.value(2).toString();
    video.Quality = query.value(3).toString();
    video.Lang = query.value(4).toString();
    video.Plays = query.value(5).toLongLong();
    video.Rating = query.value(6).toInt();
    video.Year = query.value(7).toInt();
    return video;
}

const QString SummaryColumns =
    QStringLiteral("id, title, imdbid, quality, lang, plays, rating, year");

} // namespace

std::pair<qint64, qint64> TCatalogueStore::Stats() {
    QSqlQuery& stats =
        Run(QStringLiteral("SELECT videos, version FROM catalogue_stats WHERE id = 1"), {});
    std::pair<qint64, qint64> result{0, 0};
    if (stats.next())
        result = {stats.value(0).toLongLong(), stats.value(1).toLongLong()};
    stats.finish();
    return result;
}

void TCatalogueStore::Changed() {
    Run(QStringLiteral("UPDATE catalogue_stats SET version = version + 1 WHERE id = 1"), {})
        .finish();
}

QString TCatalogueStore::MatchExpression(const QStringList& words) const {
    QStringList terms;
    for (QString word : words) {
        if (IsSQLite())
            terms.append(u'"' + word.replace(u'"', QStringLiteral("\"\"")) + QStringLiteral("\"*"));
        else
            terms.append(u'\'' + word.replace(u'\'', QStringLiteral("''")) + QStringLiteral("':*"));
    }
    return terms.join(IsSQLite() ? QStringLiteral(" ") : QStringLiteral(" & "));
}

std::optional<QList<qint64>> TCatalogueStore::OrderedMatches(const QString& match,
                                                             TSortOrder order) {
    const QString sql =
        IsSQLite() ? QStringLiteral("SELECT v.id FROM videos_fts CROSS JOIN videos AS v ON v.id = "
                                    "videos_fts.rowid WHERE videos_fts MATCH ? ORDER BY ") +
                         OrderClause(order).replace(QStringLiteral("id"), QStringLiteral("v.id")) +
                         QStringLiteral(" LIMIT ?")
                   : QStringLiteral("SELECT id FROM videos WHERE search @@ to_tsquery('simple', ?) "
                                    "ORDER BY ") +
                         OrderClause(order) + QStringLiteral(" LIMIT ?");
    QSqlQuery& query = Run(sql, {match, MaxCachedMatches + 1});
    QList<qint64> ids;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    query.finish();
    if (ids.size() > MaxCachedMatches)
        return std::nullopt;
    return ids;
}

std::vector<TVideoSummary> TCatalogueStore::Summaries(const QList<qint64>& ids) {
    std::vector<TVideoSummary> videos;
    if (ids.isEmpty())
        return videos;
    QStringList marks;
    QVariantList values;
    for (const qint64 id : ids) {
        marks.append(QStringLiteral("?"));
        values.append(id);
    }
    QSqlQuery& query =
        Run(QStringLiteral("SELECT ") + SummaryColumns +
                QStringLiteral(" FROM videos WHERE id IN (") + marks.join(u',') + u')',
            values);
    QHash<qint64, TVideoSummary> byId;
    while (query.next()) {
        TVideoSummary video = ReadSummary(query);
        byId.insert(video.Id, std::move(video));
    }
    query.finish();
    for (const qint64 id : ids) {
        const auto it = byId.constFind(id);
        if (it != byId.constEnd())
            videos.push_back(it.value());
    }
    return videos;
}

TCataloguePage TCatalogueStore::Find(const QString& search, qint64 start, qint64 limit,
                                     TSortOrder order) {
    TCataloguePage page;
    const QStringList words = SearchWords(search);
    const auto [videos, version] = Stats();
    if (words.isEmpty()) {
        page.Total = videos;
        if (limit <= 0 || start >= page.Total)
            return page;
        QSqlQuery& query = Run(QStringLiteral("SELECT ") + SummaryColumns +
                                   QStringLiteral(" FROM videos ORDER BY ") + OrderClause(order) +
                                   QStringLiteral(" LIMIT ? OFFSET ?"),
                               {limit, start});
        while (query.next())
            page.Videos.push_back(ReadSummary(query));
        query.finish();
        return page;
    }

    // The matches of a search in an order are kept while the catalogue is unchanged, so that
    // the pages of one search cost a lookup of their own videos only.
    const QString match = MatchExpression(words);
    const QString key = match + u'|' + QString::number(static_cast<int>(order));
    if (cacheVersion_ != version) {
        searchCache_.clear();
        cacheVersion_ = version;
    }
    const QList<qint64>* ids = searchCache_.object(key);
    if (ids == nullptr) {
        std::optional<QList<qint64>> found = OrderedMatches(match, order);
        if (found) {
            searchCache_.insert(key, new QList<qint64>(std::move(*found)));
            ids = searchCache_.object(key);
        }
    }
    if (ids != nullptr) {
        page.Total = ids->size();
        if (limit > 0 && start < page.Total)
            page.Videos = Summaries(ids->mid(start, limit));
        return page;
    }

    // Too many matches to keep: count them, then let the order's index find the page.
    const QString where = IsSQLite() ? QStringLiteral(" WHERE id IN (SELECT rowid FROM videos_fts "
                                                      "WHERE videos_fts MATCH ?)")
                                     : QStringLiteral(" WHERE search @@ to_tsquery('simple', ?)");
    QSqlQuery& count =
        IsSQLite() ? Run(QStringLiteral("SELECT count(*) FROM videos_fts WHERE videos_fts MATCH ?"),
                         {match})
                   : Run(QStringLiteral("SELECT count(*) FROM videos") + where, {match});
    page.Total = count.next() ? count.value(0).toLongLong() : 0;
    count.finish();
    if (limit <= 0 || start >= page.Total)
        return page;
    QSqlQuery& query = Run(
        QStringLiteral("SELECT ") + SummaryColumns + QStringLiteral(" FROM videos") + where +
            QStringLiteral(" ORDER BY ") + OrderClause(order) + QStringLiteral(" LIMIT ? OFFSET ?"),
        {match, limit, start});
    while (query.next())
        page.Videos.push_back(ReadSummary(query));
    query.finish();
    return page;
}

QString TCatalogueStore::LinksKey(const QStringList& links) {
    QStringList set;
    for (const QString& link : links) {
        const QString trimmed = link.trimmed();
        if (!trimmed.isEmpty())
            set.append(trimmed);
    }
    set.sort();
    set.removeDuplicates();
    return QString::fromLatin1(
        QCryptographicHash::hash(set.join(u'\n').toUtf8(), QCryptographicHash::Sha256).toHex());
}

std::optional<qint64> TCatalogueStore::FindByLinks(const QStringList& links) {
    QSqlQuery& query =
        Run(QStringLiteral("SELECT id FROM videos WHERE links_key = ? ORDER BY id LIMIT 1"),
            {LinksKey(links)});
    std::optional<qint64> id;
    if (query.next())
        id = query.value(0).toLongLong();
    query.finish();
    return id;
}

void TCatalogueStore::CountPlay(qint64 id) {
    InTransaction([&] {
        Run(QStringLiteral("UPDATE videos SET plays = plays + 1 WHERE id = ?"), {id}).finish();
        Changed();
    });
}

int TCatalogueStore::YearInFileName(const QString& fileName) {
    int year = 0;
    qsizetype i = 0;
    while (i < fileName.size()) {
        if (!fileName[i].isDigit() || fileName[i].unicode() > 127) {
            ++i;
            continue;
        }
        qsizetype end = i;
        while (end < fileName.size() && fileName[end].isDigit() && fileName[end].unicode() < 128)
            ++end;
        if (end - i == 4) {
            const int candidate = fileName.mid(i, 4).toInt();
            if (candidate >= 1900 && candidate <= 2099)
                year = candidate;
        }
        i = end;
    }
    return year;
}

qint64 TCatalogueStore::Add(const TNewVideo& video) {
    const TVideoRecord& record = video.Record;
    return InTransaction([&] {
        const int year = video.Year != 0 ? video.Year : YearInFileName(record.File);
        QSqlQuery& insert = Run(
            QStringLiteral("INSERT INTO videos (title, title_key, imdbid, password, size, file, "
                           "quality, lang, year, rating, plays, added_at, links_key) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?, ?) RETURNING id"),
            {Text(video.Title), Text(video.Title.toCaseFolded()), Text(record.ImdbId),
             Text(record.Password), Text(record.Size), Text(record.File), Text(record.Quality),
             Text(record.Lang), year, video.Rating, QDateTime::currentSecsSinceEpoch(),
             LinksKey(record.Links)});
        if (!insert.next())
            DatabaseFailure(insert.lastError());
        const qint64 id = insert.value(0).toLongLong();
        insert.finish();
        for (int position = 0; position < record.Links.size(); ++position)
            Run(QStringLiteral(
                    "INSERT INTO video_links (video_id, position, url) VALUES (?, ?, ?)"),
                {id, position, Text(record.Links[position])});
        Run(QStringLiteral("UPDATE catalogue_stats SET videos = videos + 1 WHERE id = 1"), {});
        Changed();
        return id;
    });
}

std::optional<std::pair<QString, QStringList>> TCatalogueStore::VideoLines(qint64 id) {
    QSqlQuery& video = Run(QStringLiteral("SELECT password FROM videos WHERE id = ?"), {id});
    if (!video.next()) {
        video.finish();
        return std::nullopt;
    }
    std::pair<QString, QStringList> lines;
    lines.first = video.value(0).toString();
    video.finish();
    QSqlQuery& links = Run(
        QStringLiteral("SELECT url FROM video_links WHERE video_id = ? ORDER BY position"), {id});
    while (links.next())
        lines.second.append(links.value(0).toString());
    links.finish();
    return lines;
}

bool TCatalogueStore::Remove(qint64 id) {
    return InTransaction([&] {
        QSqlQuery& removal = Run(QStringLiteral("DELETE FROM videos WHERE id = ?"), {id});
        const bool removed = removal.numRowsAffected() > 0;
        if (removed) {
            Run(QStringLiteral("DELETE FROM video_links WHERE video_id = ?"), {id});
            Run(QStringLiteral("UPDATE catalogue_stats SET videos = videos - 1 WHERE id = 1"), {});
            Changed();
        }
        return removed;
    });
}

bool TCatalogueStore::Update(const QString& sql, const QVariantList& values) {
    return InTransaction([&] {
        const bool changed = Run(sql, values).numRowsAffected() > 0;
        if (changed)
            Changed();
        return changed;
    });
}

bool TCatalogueStore::SetRating(qint64 id, int rating) {
    return Update(QStringLiteral("UPDATE videos SET rating = ? WHERE id = ?"), {rating, id});
}

bool TCatalogueStore::SetYear(qint64 id, int year) {
    return Update(QStringLiteral("UPDATE videos SET year = ? WHERE id = ?"), {year, id});
}

std::vector<TVideoSummary> TCatalogueStore::List() {
    std::vector<TVideoSummary> videos;
    QSqlQuery& query = Run(QStringLiteral("SELECT id, title, imdbid, quality, lang, plays, "
                                          "rating, year FROM videos ORDER BY id"),
                           {});
    while (query.next())
        videos.push_back(ReadSummary(query));
    query.finish();
    return videos;
}
