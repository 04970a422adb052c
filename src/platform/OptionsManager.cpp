#include "platform/OptionsManager.h"

#include "core/Errors.h"
#include "platform/Registry.h"

const QString TOptionsManager::DefaultBaseKey = QStringLiteral("1.0/");

TOptionValues::TOptionValues(TOptionsManager& manager, QString sectionName)
    : manager_(manager), sectionName_(std::move(sectionName)) {}

qsizetype TOptionValues::IndexOf(const QString& name) const {
    for (qsizetype i = 0; i < names_.size(); ++i) {
        if (names_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

void TOptionValues::SetString(const QString& name, const QString& value) {
    const qsizetype index = IndexOf(name);
    if (index >= 0) {
        values_[index] = value;
    } else {
        names_.append(name);
        values_.append(value);
    }
}

void TOptionValues::SetInteger(const QString& name, qint64 number) {
    SetString(name, QString::number(number));
}

void TOptionValues::SetBoolean(const QString& name, bool flag) {
    SetString(name, flag ? QStringLiteral("1") : QStringLiteral("0"));
}

QString TOptionValues::GetString(const QString& name) const {
    const qsizetype index = IndexOf(name);
    return index >= 0 ? values_[index] : QString();
}

bool TOptionValues::GetBoolean(const QString& name) const {
    return GetString(name) == QLatin1String("1");
}

QString TOptionValues::KeyPath() const { return manager_.BaseKey() + sectionName_; }

void TOptionValues::LoadFromRegistry() {
    const std::optional<TRegistryKey> key = TRegistryKey::Open(KeyPath(), false);
    if (!key)
        return;
    for (qsizetype i = 0; i < names_.size(); ++i) {
        if (key->HasValue(names_[i]))
            values_[i] = key->ReadString(names_[i]);
    }
}

void TOptionValues::SaveToRegistry() const {
    std::optional<TRegistryKey> key = TRegistryKey::Open(KeyPath(), true);
    if (!key)
        return;
    for (qsizetype i = 0; i < names_.size(); ++i)
        key->WriteString(names_[i], values_[i]);
    key->Flush();
}

TOptionsManager::TOptionsManager(QString baseKey) : baseKey_(std::move(baseKey)) {}

TOptionValues& TOptionsManager::RegisterSection(const QString& name) {
    sections_.push_back(std::make_unique<TOptionValues>(*this, name));
    return *sections_.back();
}

TOptionValues* TOptionsManager::FindSection(const QString& name) const {
    for (const auto& section : sections_) {
        if (section->SectionName().compare(name, Qt::CaseInsensitive) == 0)
            return section.get();
    }
    return nullptr;
}

void TOptionsManager::LoadAll() {
    for (const auto& section : sections_)
        section->LoadFromRegistry();
}

void TOptionsManager::SaveAll() const {
    for (const auto& section : sections_)
        section->SaveToRegistry();
}

TOptionsManager& OptionsManager() {
    static TOptionsManager manager;
    return manager;
}

namespace {

const TOptionValues& Section(const QString& section) {
    const TOptionValues* values = OptionsManager().FindSection(section);
    if (!values)
        throw Exception(QStringLiteral("Unknown settings section '%1'").arg(section));
    return *values;
}

} // namespace

QString GetOptionString(const QString& section, const QString& name) {
    return Section(section).GetString(name);
}

qint64 GetOptionInteger(const QString& section, const QString& name) {
    bool ok = false;
    const qint64 number = GetOptionString(section, name).toLongLong(&ok, 10);
    return ok ? number : 0;
}

bool GetOptionBoolean(const QString& section, const QString& name) {
    return GetOptionString(section, name) == QLatin1String("1");
}
