#include "platform/Registry.h"

#include "core/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString Organisation = QStringLiteral("morvek software");
const QString Application = QStringLiteral("tavilon");

std::unique_ptr<QSettings> OpenStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       Organisation, Application);
}

// The child group of the settings' current group spelled like `name` without regard to case.
std::optional<QString> FindChildGroup(const QSettings& settings, const QString& name) {
    for (const QString& child : settings.childGroups()) {
        if (child.compare(name, Qt::CaseInsensitive) == 0)
            return child;
    }
    return std::nullopt;
}

// The store holds the file-host password: its file is readable by its owner only.
void RestrictToOwner(const QString& fileName) {
    if (fileName.isEmpty() || !QFileInfo(fileName).isAbsolute())
        return;
    QDir().mkpath(QFileInfo(fileName).absolutePath());
    QFile file(fileName);
    if (!file.exists()) {
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.close();
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

std::optional<TRegistryKey> TRegistryKey::Open(const QString& path, bool create) {
    auto settings = OpenStore();
    QStringList storedPath;
    for (const QString& folder : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const std::optional<QString> existing = FindChildGroup(*settings, folder);
        if (!existing && !create) {
            while (!settings->group().isEmpty())
                settings->endGroup();
            return std::nullopt;
        }
        const QString name = existing.value_or(folder);
        storedPath.append(name);
        settings->beginGroup(name);
    }
    while (!settings->group().isEmpty())
        settings->endGroup();
    return TRegistryKey(std::move(settings), storedPath.join(QLatin1Char('/')));
}

TRegistryKey::TRegistryKey(std::unique_ptr<QSettings> settings, QString group)
    : settings_(std::move(settings)), group_(std::move(group)) {
    settings_->beginGroup(group_);
}

TRegistryKey::TRegistryKey(TRegistryKey&&) noexcept = default;
TRegistryKey& TRegistryKey::operator=(TRegistryKey&&) noexcept = default;

TRegistryKey::~TRegistryKey() {
    if (settings_)
        Flush();
}

QString TRegistryKey::StoredName(const QString& name) const {
    for (const QString& key : settings_->childKeys()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return key;
    }
    return name;
}

bool TRegistryKey::HasValue(const QString& name) const {
    return settings_->contains(StoredName(name));
}

QString TRegistryKey::ReadString(const QString& name) const {
    const QVariant value = settings_->value(StoredName(name));
    if (value.typeId() != QMetaType::QString)
        throw Exception(QStringLiteral("Invalid data type for '%1'").arg(name));
    return value.toString();
}

void TRegistryKey::WriteString(const QString& name, const QString& value) {
    settings_->setValue(StoredName(name), value);
}

bool TRegistryKey::Flush() {
    RestrictToOwner(settings_->fileName());
    settings_->sync();
    RestrictToOwner(settings_->fileName());
    return settings_->status() == QSettings::NoError;
}
