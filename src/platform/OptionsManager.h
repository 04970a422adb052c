#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class TOptionsManager;

// One settings section: named text values with their defaults, kept in one key of the store.
// Names match without regard to case. Booleans are "1" or "0", integers their decimal text,
// lists their lines joined by CR LF.
class TOptionValues {
public:
    TOptionValues(TOptionsManager& manager, QString sectionName);

    const QString& SectionName() const { return sectionName_; }
    const QStringList& Names() const { return names_; }
    const QStringList& Values() const { return values_; }

    // Replaces the value of a registered name, or registers the name with this value.
    void SetString(const QString& name, const QString& value);
    void SetInteger(const QString& name, qint64 number);
    void SetBoolean(const QString& name, bool flag);
    // The value, or empty text when the name is not registered.
    QString GetString(const QString& name) const;
    // True exactly when the name is registered and its value is "1".
    bool GetBoolean(const QString& name) const;

    // Reads every registered name present in the section's key; a missing key changes nothing.
    void LoadFromRegistry();
    // Writes every registered value into the section's key, creating it; fails silently.
    void SaveToRegistry() const;

private:
    qsizetype IndexOf(const QString& name) const;
    QString KeyPath() const;

    TOptionsManager& manager_;
    QString sectionName_;
    QStringList names_;
    QStringList values_;
};

// The sections of settings, in registration order.
class TOptionsManager {
public:
    // The store's base path: "1.0/" below the store of "morvek software", "tavilon".
    static const QString DefaultBaseKey;

    explicit TOptionsManager(QString baseKey = DefaultBaseKey);

    const QString& BaseKey() const { return baseKey_; }
    // Appends a new section of that name (an existing one of the same name is not looked for).
    TOptionValues& RegisterSection(const QString& name);
    // The first section of that name, or nullptr.
    TOptionValues* FindSection(const QString& name) const;
    void LoadAll();
    void SaveAll() const;

private:
    QString baseKey_;
    std::vector<std::unique_ptr<TOptionValues>> sections_;
};

// The process's settings store, created on the first call.
TOptionsManager& OptionsManager();

// The value of `name` in `section` (a registered section); empty when the name is unknown.
QString GetOptionString(const QString& section, const QString& name);
// The value read as a decimal integer; 0 when it is not one.
qint64 GetOptionInteger(const QString& section, const QString& name);
// True exactly when the value is the text "1".
bool GetOptionBoolean(const QString& section, const QString& name);
