#include "catalogue/TCatalogueEntry.h"

namespace {

qint64 DecimalOrZero(const QString& text) {
    bool ok = false;
    const qint64 number = text.toLongLong(&ok, 10);
    return ok ? number : 0;
}

} // namespace

TCatalogueEntry TCatalogueEntry::Split(const QString& entry) {
    TCatalogueEntry result;
    QString* fields[] = {&result.Title, &result.ImdbId, &result.VideoIdText};
    qsizetype from = 0;
    for (QString* field : fields) {
        const qsizetype at = entry.indexOf(Separator, from);
        if (at < 0) {
            *field = entry.mid(from);
            return result;
        }
        *field = entry.mid(from, at - from);
        from = at + Separator.size();
    }
    result.Description = entry.mid(from);
    return result;
}

QString TCatalogueEntry::Join() const {
    return Title + Separator + ImdbId + Separator + VideoIdText + Separator + Description;
}

qint64 TCatalogueEntry::VideoId() const {
    return DecimalOrZero(VideoIdText);
}

QString TCatalogueEntry::DisplayDescription() const {
    QString text = Description;
    return text.replace(Separator, QStringLiteral(" - "));
}

qint64 CatalogueTotal(const QStringList& answer) {
    return answer.isEmpty() ? 0 : DecimalOrZero(answer.front());
}
