#include "catalogue/TVideoRecord.h"

TVideoRecord TVideoRecord::FromLines(const QStringList& lines) {
    TVideoRecord record;
    const std::pair<const QString*, QString*> keys[] = {
        {&PasswordKey, &record.Password}, {&SizeKey, &record.Size}, {&FileKey, &record.File},
        {&QualityKey, &record.Quality},   {&LangKey, &record.Lang}, {&ImdbIdKey, &record.ImdbId}};
    for (const QString& line : lines) {
        bool isKey = false;
        for (const auto& [key, field] : keys) {
            if (line.startsWith(*key)) {
                *field = line.mid(key->size());
                isKey = true;
                break;
            }
        }
        if (!isKey && !line.trimmed().isEmpty())
            record.Links.append(line);
    }
    return record;
}

QStringList TVideoRecord::RegistrationLines() const {
    QStringList lines = {PasswordKey + Password, SizeKey + Size, FileKey + File,
                         QualityKey + Quality,   LangKey + Lang, ImdbIdKey + ImdbId};
    lines += Links;
    return lines;
}

QStringList TVideoRecord::CheckLines() const {
    QStringList lines = {PasswordKey + Password, SizeKey + Size};
    lines += Links;
    return lines;
}

void SplitVideoLines(const QStringList& lines, QString& password, QStringList& links) {
    for (const QString& line : lines) {
        if (line.startsWith(TVideoRecord::PasswordKey))
            password = line.mid(TVideoRecord::PasswordKey.size());
        else
            links.append(line);
    }
}
