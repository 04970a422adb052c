#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// The value kinds the catalogue interface uses: xsd:long, xsd:string, xsd:boolean and a
// SOAP-encoded array of xsd:string.
enum class TSoapType { Long, String, Boolean, StringArray };

struct TSoapValue {
    TSoapType Type = TSoapType::String;
    qint64 Number = 0;
    bool Flag = false;
    QString Text;
    QStringList Items;

    static TSoapValue Long(qint64 number) {
        TSoapValue value;
        value.Type = TSoapType::Long;
        value.Number = number;
        return value;
    }
    static TSoapValue String(QString text) {
        TSoapValue value;
        value.Type = TSoapType::String;
        value.Text = std::move(text);
        return value;
    }
    static TSoapValue Boolean(bool flag) {
        TSoapValue value;
        value.Type = TSoapType::Boolean;
        value.Flag = flag;
        return value;
    }
    static TSoapValue StringArray(QStringList items) {
        TSoapValue value;
        value.Type = TSoapType::StringArray;
        value.Items = std::move(items);
        return value;
    }
};

// One parameter of an operation: its external name and its value.
struct TSoapParameter {
    QString Name;
    TSoapValue Value;
};

using TSoapParameters = std::vector<TSoapParameter>;
