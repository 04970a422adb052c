#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class QSettings;

// One key of the per-user settings store: a folder of named string values. It stands in for a
// key of the Windows registry: names match without regard to case, and a value that does not
// read back as a string is "Invalid data type". Backed by QSettings("morvek software",
// "tavilon"); a key path is a list of folders joined by "/" below that store's root.
class TRegistryKey {
public:
    // The key at `path`, or nothing when it does not exist and `create` is false.
    static std::optional<TRegistryKey> Open(const QString& path, bool create);

    TRegistryKey(TRegistryKey&&) noexcept;
    TRegistryKey& operator=(TRegistryKey&&) noexcept;
    ~TRegistryKey();

    bool HasValue(const QString& name) const;
    // The value's text; raises "Invalid data type for '<name>'" when it is not a string.
    QString ReadString(const QString& name) const;
    void WriteString(const QString& name, const QString& value);
    // Writes the pending changes to the store; false when that failed.
    bool Flush();

private:
    TRegistryKey(std::unique_ptr<QSettings> settings, QString group);
    // The stored spelling of `name`, matched without regard to case, or `name` itself.
    QString StoredName(const QString& name) const;

    std::unique_ptr<QSettings> settings_;
    QString group_;
};
